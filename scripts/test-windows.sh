#!/usr/bin/env bash
# Builds the Windows COM server qzCardReader.dll (x64 and i686) and tests the x64 DLL under Wine:
# registration with regsvr32, then VBScript hosts (cscript) against simulated terminals (ctsim),
# each port a fresh pseudo-terminal, and the reader window under a virtual X server.
# Works headless and offline, as root or not. Prints PASS/FAIL per test and a summary line;
# exits non-zero when a test failed. Artifacts and logs: build/wine/.
#
# Usage: scripts/test-windows.sh            (CTSIM=path overrides the simulated terminal)
# QZ_WINE_OUT, QZ_MINGW_BUILD and QZ_MINGW32_BUILD override build/wine, build/mingw and
# build/mingw32, so that two runs in one checkout do not share a prefix or a build tree.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export QZ_WINE_OUT=${QZ_WINE_OUT:-$root/build/wine}
export QZ_MINGW_BUILD=${QZ_MINGW_BUILD:-$root/build/mingw}
export QZ_MINGW32_BUILD=${QZ_MINGW32_BUILD:-$root/build/mingw32}
out=$QZ_WINE_OUT
build64=$QZ_MINGW_BUILD
started=$SECONDS
vbs_dir=$root/tests/wine
export WINEPREFIX=$out/prefix
export WINEDEBUG=-all
# No Mono or Gecko downloads: the tests need neither, and CI has no network.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
export WINEARCH=win64

passed=0
failed=0
pass() {
  echo "PASS $1"
  passed=$((passed + 1))
}
fail() {  # name, reason, [log]
  echo "FAIL $1 $2"
  if [[ -n ${3:-} && -f $3 ]]; then sed 's/^/    /' "$3" | tail -30; fi
  failed=$((failed + 1))
}
summary() {
  echo "Windows build and tests took $((SECONDS - started)) s"
  echo "$passed passed, $failed failed"
}
restart_wine() {
  wineserver -k >/dev/null 2>&1
  wineserver -w
}
headless() {  # on|off: the null display driver, or a real one
  if [[ $1 == on ]]; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f
  else
    wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f
  fi >/dev/null 2>&1
  restart_wine
}
# verdicts PREFIX LOG PASSED FAILED: a program's own verdicts, one a line beginning with PASSED or
# FAILED; false when there were none.
verdicts() {
  local line none=1
  while IFS= read -r line; do
    line=${line%$'\r'}
    case $line in
      "$3"*) pass "$1: ${line#"$3"}"; none=0 ;;
      "$4"*) fail "$1: ${line#"$4"}" ""; none=0 ;;
    esac
  done <"$2"
  return $none
}

# --- simulated terminals on COM1, COM2, ... ----------------------------------------------------
term_pids=()
term_fds=()
# start_terminals "SPEC1,SPEC2,...": COMn gets a new ctsim started with SPECn as its arguments
# ("tagged", "no-card --answer-delay 300"), or no device for "-" (an empty mapping: Wine keeps
# the number, so that the host's own serial devices do not take it, with nothing behind it);
# every other COM1..COM8 mapping is removed.
start_terminals() {
  local specs spec n=0 fd pty reg=$out/ports.reg
  IFS=',' read -r -a specs <<<"$1"
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n' >"$reg"
  for spec in "${specs[@]}"; do
    n=$((n + 1))
    if [[ $spec == - ]]; then
      printf '"COM%d"=""\n' "$n" >>"$reg"
      continue
    fi
    # shellcheck disable=SC2086  # a spec is a list of arguments
    exec {fd}< <(exec "$CTSIM" --scenario $spec 2>>"$out/logs/ctsim.log")
    term_pids+=($!)
    term_fds+=("$fd")
    # The first line is the pty's path; a generous limit for a loaded machine.
    if ! read -r -t 30 -u "$fd" pty || [[ -z $pty ]]; then
      echo "ctsim --scenario $spec printed no pty" >>"$out/logs/ctsim.log"
      return 1
    fi
    printf '"COM%d"="%s"\n' "$n" "$pty" >>"$reg"
  done
  for ((m = n + 1; m <= 8; m++)); do printf '"COM%d"=-\n' "$m" >>"$reg"; done
  (cd "$out" && wine regedit /s ports.reg) >/dev/null 2>&1
  # Wine reads the port mappings when its server starts.
  restart_wine
}
stop_terminals() {
  local pid fd
  for pid in "${term_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for fd in "${term_fds[@]}"; do exec {fd}<&-; done
  term_pids=()
  term_fds=()
}
trap stop_terminals EXIT

# Wine's VBScript has no ExecuteGlobal: each test runs as common.vbs followed by its own text,
# in CR LF lines as cscript expects.
prepare_scripts() {
  local f
  mkdir -p "$out/vbs"
  for f in "$vbs_dir"/*.vbs; do
    [[ $(basename "$f") == common.vbs ]] && continue
    { echo "On Error Resume Next"; cat "$vbs_dir/common.vbs" "$f"; } |
      sed 's/\r*$/\r/' >"$out/vbs/$(basename "$f")"
  done
}

log_of() { echo "$out/logs/$(echo "$1" | tr -cs 'A-Za-z0-9' '_' | sed 's/_$//').log"; }

# host_run LOG PORTS SCRIPT [ARGS...]: one cscript run against terminals on COM1... ("-": none);
# its exit status.
host_run() {
  local log=$1 ports=$2 rc
  shift 2
  if [[ $ports != - ]] && ! start_terminals "$ports"; then
    stop_terminals
    { echo "the simulated terminal did not start"; cat "$out/logs/ctsim.log"; } >"$log"
    return 125
  fi
  # Wine's own messages (and a wineserver's dump when it is stopped) go to a file of their own.
  (cd "$out/vbs" && timeout 300 wine cscript //nologo "$@") >"$log" 2>"${log%.log}.stderr"
  rc=$?
  stop_terminals
  return $rc
}

# A script passes when it exits 0 and says so last: an error that stops cscript early under Wine
# also exits 0, silently.
judge() {  # name, exit status, log
  if [[ $2 -eq 0 ]] && grep -q "all checks passed" "$3"; then
    pass "$1"
  else
    fail "$1" "(exit status $2)" "$3"
  fi
}
run_vbs() {  # NAME PORTS SCRIPT [ARGS...]
  local name=$1 log
  log=$(log_of "$name")
  shift
  host_run "$log" "$@"
  judge "$name" $? "$log"
}

# --- the reader window, run under xvfb-run by the main part ------------------------------------
# Waits until the reader window is on the screen; prints its X window id.
find_reader_window() {
  local wid i
  for ((i = 0; i < 600; i++)); do
    wid=$(xdotool search --onlyvisible --name "KVK Kartenleseger" 2>/dev/null | head -1)
    if [[ -n $wid ]]; then
      echo "$wid"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Clicks "Abbruch": its centre in client pixels at 96 dpi is (148, 81) in a 293 x 97 client area.
click_cancel() {
  local wid=$1 X Y WIDTH HEIGHT WINDOW SCREEN border caption
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  border=0
  caption=0
  if ((WIDTH > 293)); then
    border=$(((WIDTH - 293) / 2))
    caption=$((HEIGHT - 97 - border))
  fi
  xdotool mousemove --sync $((X + border + 148)) $((Y + caption + 81)) click 1
}

window_tests() {
  local log=$out/logs/window_cancel.log cs wid rc shot="window: screenshot during a read"
  mkdir -p "$out/artifacts"
  headless off
  # A read that waits for a card long enough to be looked at, then cancelled with the mouse.
  host_run "$log" "no-card --answer-delay 400" read_card.vbs 4 nothing 300 &
  cs=$!
  if wid=$(find_reader_window); then
    # Let the dialogue reach "Bitte Karte einführen..." (the first REQUEST ICC answer).
    sleep 1.5
    if import -window root "$out/artifacts/reader_window.png" 2>>"${log%.log}.xdotool"; then
      pass "$shot (${out#"$root"/}/artifacts/reader_window.png)"
    else
      fail "$shot" "(import failed)" "${log%.log}.xdotool"
    fi
    click_cancel "$wid" >>"${log%.log}.xdotool" 2>&1
  else
    fail "$shot" "(no reader window appeared)" "$log"
  fi
  wait "$cs"
  rc=$?
  judge "window: cancel with Abbruch returns RV_UserCanceled" "$rc" "$log"
  # Escape to the window presses "Abbruch", which has the focus.
  log=$out/logs/window_escape.log
  host_run "$log" "no-card --answer-delay 400" read_card.vbs 4 nothing 300 &
  cs=$!
  if wid=$(find_reader_window); then
    xdotool key --window "$wid" Escape >>"${log%.log}.xdotool" 2>&1
  fi
  wait "$cs"
  judge "window: Escape returns RV_UserCanceled" $? "$log"
  # A whole read with the window drawn for real.
  run_vbs "window: read with the window shown" "tagged" read_card.vbs 0 tagged
}

if [[ ${1:-} == --window-tests ]]; then
  CTSIM=$2
  window_tests
  echo "$passed $failed" >"$out/window.counts"
  exit 0
fi

# --- build --------------------------------------------------------------------------------------
jobs=$(nproc)
mkdir -p "$out/logs" "$out/bin"
rm -f "$out"/logs/*.log "$out"/logs/*.stderr
build() {  # preset, build dir: configures and builds, log in logs/build-PRESET.txt
  cmake --preset "$1" -B "$2" >"$out/logs/build-$1.txt" 2>&1 &&
    cmake --build "$2" -j "$jobs" >>"$out/logs/build-$1.txt" 2>&1
}
if build mingw "$build64"; then
  pass "build qzCardReader.dll (mingw)"
else
  fail "build qzCardReader.dll (mingw)" "" "$out/logs/build-mingw.txt"
  summary
  exit 1
fi
# Nothing here runs the i686 build, so it is made beside the Wine tests, which mostly wait on
# timers and terminals; at the lowest priority, so that their timing stays as it would be.
(
  renice -n 19 -p "$BASHPID" >/dev/null
  build mingw32 "$QZ_MINGW32_BUILD"
) &
build32_pid=$!

CTSIM=${CTSIM:-$root/build/native/tools/ctsim/ctsim}
if [[ ! -x $CTSIM ]]; then
  # Not built by the native run: build just the simulator.
  cmake -S "$root" -B "$out/host" -G Ninja -DQZ_BUILD_TESTS=OFF >"$out/logs/build-ctsim.txt" 2>&1 &&
    cmake --build "$out/host" --target ctsim -j "$jobs" >>"$out/logs/build-ctsim.txt" 2>&1
  CTSIM=$out/host/tools/ctsim/ctsim
fi
if [[ ! -x $CTSIM ]]; then
  fail "build ctsim" "" "$out/logs/build-ctsim.txt"
  summary
  exit 1
fi

# --- a fresh Wine prefix, headless --------------------------------------------------------------
restart_wine
rm -rf "$WINEPREFIX"
wineboot -i >"$out/logs/wineboot.txt" 2>&1
headless on
cp "$build64/qzCardReader.dll" "$out/bin/"
rm -f "$out/bin/qzCardReader.err"

# --- registration for the current user only, while the prefix is still clean -------------------
# Wine's COM reads only the machine's classes, so a script host cannot create a per-user
# registered object there; registered_host follows the HKCU entries the way Windows does.
per_user() {  # name, log, command...
  local name=$1 log=$out/logs/$2
  shift 2
  if (cd "$out/bin" && bash -c "$*") >"$log" 2>&1; then pass "$name"; else fail "$name" "" "$log"; fi
}
if [[ -f $build64/qz_registered_host.exe ]]; then
  cp "$build64/qz_registered_host.exe" "$out/bin/registered_host.exe"
  per_user "regsvr32 /n /i:nonsense refuses and registers nothing" user-bad.log \
    '! wine regsvr32 /s /n /i:nonsense qzCardReader.dll && wine registered_host.exe unregistered'
  per_user "regsvr32 /n /i:user: classes and ProgIDs under HKCU only, object created from them" \
    user-register.log 'wine regsvr32 /s /n /i:user qzCardReader.dll && wine registered_host.exe user-registered'
  per_user "regsvr32 /u /n /i:user removes the user's classes and the type library" \
    user-unregister.log 'wine regsvr32 /s /u /n /i:user qzCardReader.dll && wine registered_host.exe unregistered'
else
  fail "per-user registration" "(registered_host.exe was not built)"
fi
per_user "regsvr32 qzCardReader.dll" regsvr32.log 'wine regsvr32 /s qzCardReader.dll &&
  wine reg query "HKCR\qzCardReader.clsKVKData\Clsid" &&
  wine reg query "HKCR\TypeLib\{DAF65882-0C3E-45A7-A21F-59F20DCC76DC}\1.0"'

# --- the Windows platform layer on its own (event loop, window, serial port, COM edge) ----------
log=$out/logs/platform.log
timeout 300 wine "$build64/qz_win_tests.exe" >"$log" 2>"${log%.log}.stderr"
rc=$?
verdicts platform "$log" "PASS " "FAIL "
if [[ $rc -ne 0 ]] && ! grep -q "^FAIL " "$log"; then fail "platform tests" "(exit status $rc)" "$log"; fi
grep -v "^PASS \|^FAIL " "$log" | sed 's/^/    /'

# --- VBScript hosts -----------------------------------------------------------------------------
prepare_scripts
cp "$build64/qz_handle_count.exe" "$out/vbs/handle_count.exe"
run_vbs "new object: defaults" - defaults.vbs
run_vbs "1000 objects created and released, no handle left" \
  "tagged,tagged,tagged,tagged,tagged,tagged,tagged,tagged" many_objects.vbs
run_vbs "errors: ERR_NoPortSet and 8002 raised and logged, then a read" "tagged" errors.vbs
run_vbs "read: tagged card, seventeen fields" "tagged" read_card.vbs 0 tagged
run_vbs "read: fixed-width card" "fixed" read_card.vbs 0 fixed
run_vbs "read: blocks arriving in pieces" "split --pace" read_card.vbs 0 tagged
run_vbs "read: chained answer" "chained" read_card.vbs 0 tagged
run_vbs "read: WTX request before the answer" "wtx" read_card.vbs 0 tagged
run_vbs "read: no card" "no-card" read_card.vbs 5 empty
run_vbs "read: wrong card" "wrong-card" read_card.vbs 3 empty
run_vbs "read: eject error keeps the record" "eject-error" read_card.vbs 2 tagged
run_vbs "read: silent terminal" "silent" read_card.vbs 6 nothing
run_vbs "ports without a device raise 8010; GetCardPort passes them by and finds COM4 (COM3 silent); a kept record survives the next read" \
  "-,-,silent,tagged,tagged,fixed" port_search.vbs

# The integration guide's example as a host developer runs it: COM1, its own exit codes and lines.
# run_example NAME PORTS WANT_EXIT WANT_LAST_LINE WANT_LINES [ARGS...]: WANT_LINES are
# beginnings of lines, one a line, that the output must also hold.
run_example() {
  local name=$1 ports=$2 want_rc=$3 want_last=$4 want_lines=$5 log rc last want missing=""
  shift 5
  log=$(log_of "example $name")
  host_run "$log" "$ports" example_read_card.vbs "$@"
  rc=$?
  last=$(tr -d '\r' <"$log" | sed '/^$/d' | tail -1)
  while IFS= read -r want; do
    [[ -z $want ]] && continue
    tr -d '\r' <"$log" | cut -c "1-${#want}" | grep -q -F -x -e "$want" || missing+=" [$want]"
  done <<<"$want_lines"
  if [[ $rc -eq $want_rc && $last == "$want_last"* && -z $missing ]]; then
    pass "$name"
  else
    fail "$name" "(exit status $rc, last line [$last]${missing:+, missing$missing})" "$log"
  fi
}
sed 's/\r*$/\r/' "$root/docs/examples/read_card.vbs" >"$out/vbs/example_read_card.vbs"
run_example "guide's example: reads the card on COM1, exit status 0" "tagged" 0 \
  "Result: 0 RV_ReadSuccessful" "KrankenKassenNummer: 1234567
VersichertenNummer: 123456789012
Geburtsdatum: 12031956
PostLeitzahl: 54321
FamilienName: Wei"
run_example "guide's example: no card, exit status 1" "no-card" 1 \
  "Result: 5 RV_NoCardInserted" "" 1 2
run_example "guide's example: missing port, exit status 2" - 2 "Error 8002" "" 200

# --- the window, on a virtual display -----------------------------------------------------------
restart_wine
rm -f "$out/window.counts"
xvfb-run -a -s "-screen 0 1024x768x24" "$0" --window-tests "$CTSIM"
if [[ -f $out/window.counts ]]; then
  read -r wp wf <"$out/window.counts"
  passed=$((passed + wp))
  failed=$((failed + wf))
else
  fail "window tests" "(xvfb-run did not complete)"
fi
restart_wine

# --- unregistration removes what registration wrote --------------------------------------------
headless on
per_user "regsvr32 /u removes the classes, ProgIDs and type library" unregister.log \
  'wine regsvr32 /u /s qzCardReader.dll &&
  ! wine reg query "HKCR\qzCardReader.clsApplication" &&
  ! wine reg query "HKCR\qzCardReader.clsKVKData" &&
  ! wine reg query "HKCR\CLSID\{3CE456A8-5E44-416B-AF4A-37C02B596C32}" &&
  ! wine reg query "HKCR\TypeLib\{DAF65882-0C3E-45A7-A21F-59F20DCC76DC}"'

# --- the keyboard reader against the stand-in KbdBridge.dll ------------------------------------
# In the same prefix, as everything registered above is gone again (a new one would cost a
# wineboot); its reads open the reader window on displays of their own, so the headless driver
# goes.
kbd_dir=$build64/kbdbridge
if [[ -x tests/kbdbridge/run_wine_tests.sh && -f $kbd_dir/KbdBridge.dll ]]; then
  headless off
  tests/kbdbridge/run_wine_tests.sh "$kbd_dir" "$build64/qzCardReader.dll" \
    >"$out/logs/keyboard.log" 2>&1
  verdicts keyboard "$out/logs/keyboard.log" "ok: " "FAILED: " ||
    fail "keyboard reader tests" "(no verdicts)" "$out/logs/keyboard.log"
  restart_wine
fi

# --- the i686 build started after the x64 one, and the distributable zip that needs both --------
if wait "$build32_pid"; then
  pass "build qzCardReader.dll (mingw32)"
  # The packaging script checks the zip's contents itself.
  if scripts/package-windows.sh --x64 "$build64/qzCardReader.dll" \
    --x86 "$QZ_MINGW32_BUILD/qzCardReader.dll" --tlb "$build64/com/qzCardReader.tlb" \
    --out "$out/dist" >"$out/logs/package.log" 2>&1; then
    pass "package-windows.sh: the zip holds what it should ($(tail -1 "$out/logs/package.log"))"
  else
    fail "package-windows.sh" "" "$out/logs/package.log"
  fi
else
  fail "build qzCardReader.dll (mingw32)" "" "$out/logs/build-mingw32.txt"
fi

summary
[[ $failed -eq 0 ]]
