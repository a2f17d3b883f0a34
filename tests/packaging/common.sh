# Shared by the packaging tests (sourced): a simulated terminal in the background, and clean-up.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

# start_ctsim CTSIM [ARGS...]: starts the simulator and sets CTSIM_PTY to the port it serves on
# (the first line it prints). Waits for that line at most 60 s.
start_ctsim() {
  coproc CTSIM_PROC { exec "$@"; }
  CTSIM_PID=$CTSIM_PROC_PID
  local line=""
  IFS= read -r -t 60 -u "${CTSIM_PROC[0]}" line || fail "ctsim printed no port: $*"
  CTSIM_PTY=$line
  [[ -e "$CTSIM_PTY" ]] || fail "ctsim's port $CTSIM_PTY does not exist"
}

stop_ctsim() {
  if [[ -n "${CTSIM_PID:-}" ]]; then
    kill "$CTSIM_PID" 2>/dev/null || true
    wait "$CTSIM_PID" 2>/dev/null || true
    CTSIM_PID=""
  fi
}

# expect_card OUTPUT: the record of the simulator's default (tagged) card was printed.
expect_card() {
  grep -q "RV_ReadSuccessful" <<<"$1" || fail "no successful read in: $1"
  grep -q "FamilienName" <<<"$1" || fail "no FamilienName in: $1"
  grep -q "Mühlental" <<<"$1" || fail "not the simulator's card in: $1"
}
