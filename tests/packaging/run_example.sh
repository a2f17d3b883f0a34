#!/usr/bin/env bash
# The example program reads the simulated terminal's card: run_example.sh CTSIM READ_CARD
source "$(dirname "$0")/common.sh"
ctsim=$1 read_card=$2
trap stop_ctsim EXIT

start_ctsim "$ctsim"
out=$(timeout 120 "$read_card" "$CTSIM_PTY" 2>/dev/null) || fail "read_card failed: $out"
expect_card "$out"
grep -q "^FamilienName: " <<<"$out" || fail "record not printed as Field: value: $out"
stop_ctsim

# A terminal without a card: another result, exit status 1, no error.
start_ctsim "$ctsim" --scenario no-card
rc=0
out=$(timeout 120 "$read_card" "$CTSIM_PTY" 2>/dev/null) || rc=$?
[[ $rc -eq 1 ]] || fail "no card: exit status $rc, want 1 ($out)"
grep -q "RV_NoCardInserted" <<<"$out" || fail "no card: $out"
stop_ctsim

# A device that does not exist: the port's error is raised and printed, exit status 2.
rc=0
err=$(timeout 60 "$read_card" /nonexistent/tty 2>&1 >/dev/null) || rc=$?
[[ $rc -eq 2 ]] || fail "missing device: exit status $rc, want 2"
grep -q "Error 8002" <<<"$err" || fail "missing device: $err"
echo "ok"
