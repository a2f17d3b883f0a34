#!/usr/bin/env bash
# Runs the Windows keyboard reader's tests under Wine against the stand-in KbdBridge.dll:
# first with the class unregistered (creation must fail with 339), then registered by regsvr32
# (every scenario, and a script host's late binding), then unregistered again.
# Given qzCardReader.dll too, it also reads through the component as a host does (ReadCard with
# the keyboard reader), under xvfb-run because the reader window needs a display.
# Usage: run_wine_tests.sh <dir with KbdBridge.dll and kbdbridge_client_test.exe> [qzCardReader.dll]
# WINEPREFIX defaults to a prefix of its own in that directory.
set -euo pipefail
dir=$(cd "${1:?usage: $0 <build dir of the stand-in>}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
component=${2:+$(cd "$(dirname "$2")" && pwd)/$(basename "$2")}
export WINEPREFIX="${WINEPREFIX:-$dir/wineprefix}"
export WINEDEBUG=-all
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  echo "creating Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

cd "$dir"
status=0
run() {  # label, command...
  local label=$1
  shift
  if "$@"; then echo "ok: $label"; else echo "FAILED: $label"; status=1; fi
}

wine regsvr32 /s /u KbdBridge.dll >/dev/null 2>&1 || true
run "not registered -> 339" wine kbdbridge_client_test.exe absent
run "regsvr32 KbdBridge.dll" wine regsvr32 /s KbdBridge.dll
run "keyboard reader scenarios" wine kbdbridge_client_test.exe
mv KbdBridge.dll KbdBridge.dll.moved
run "registered, library missing -> 339" wine kbdbridge_client_test.exe absent
mv KbdBridge.dll.moved KbdBridge.dll
cp "$here/kbdbridge_script_host.vbs" .
for scenario in success fail; do
  run "script host: $scenario" env KBDBRIDGE_SCENARIO=$scenario \
    wine cscript //nologo kbdbridge_script_host.vbs $scenario
done
if [[ -n $component ]]; then
  # One keyboard read per scenario; the stand-in's texts carry a marker to find this run's lines
  # in the error log beside the component.
  cp "$here/keyboard_read.vbs" .
  log="${component%.dll}.err"
  run "regsvr32 qzCardReader.dll" wine regsvr32 /s "$(winepath -w "$component")"
  wineserver -w
  # The reader window as the keyboard library sees it when the read starts: shown, titled for
  # the keyboard, with its message and the cancel button disabled.
  window_during_read() {
    local ok=1 want
    for want in "window .* enabled=1 text=KVK Kartenleseger" \
      "control Static enabled=1 text=KVK Kartenlesegerät an Tastatur" \
      "control Static enabled=1 text=Bitte warten, bis Karte eingelesen wurde" \
      "control Button enabled=0 text=Abbruch"; do
      grep -q -i -E "^$want" probe.txt 2>/dev/null || { echo "not seen during the read: $want"; ok=0; }
    done
    ((ok))
  }
  read_card() {  # scenario, expected recorded time-out, expected handler log lines[, probe]
    local scenario=$1 want_record=$2 want_log=$3 marker="Lesefehler $$-$RANDOM" ok=1
    rm -f record.txt probe.txt
    wineserver -w  # a headless server left over cannot open windows on the new display
    KBDBRIDGE_SCENARIO=$scenario KBDBRIDGE_RECORD=record.txt KBDBRIDGE_TEXT="$marker" KBDBRIDGE_PROBE=probe.txt \
      xvfb-run -a wine cscript //nologo keyboard_read.vbs "$scenario" "$marker" || ok=0
    local recorded
    recorded=$(paste -sd, record.txt 2>/dev/null | tr -d '\r')
    [[ $recorded == "$want_record" ]] || { echo "recorded time-outs: '$recorded', want '$want_record'"; ok=0; }
    local lines
    lines=$(grep -a -F "$marker" "$log" 2>/dev/null | grep -c -F "Method : mKeyboard_CherryError")
    [[ $lines == "$want_log" ]] || { echo "handler log lines: $lines, want $want_log"; ok=0; }
    if [[ ${4-} == probe ]]; then window_during_read || ok=0; fi
    ((ok))
  }
  run "ReadCard keyboard: success" read_card success 5000 0 probe
  run "ReadCard keyboard: card unreadable" read_card unreadable 5000 0
  run "ReadCard keyboard: error 7" read_card error7 5000 1 probe
  run "ReadCard keyboard: Error report" read_card error-event 5000 0
  run "ReadCard keyboard: ReadKVK fails" read_card fail 5000 0
  wine regsvr32 /s /u KbdBridge.dll
  run "ReadCard keyboard: library absent" read_card absent "" 0
  wine regsvr32 /s KbdBridge.dll
  wine regsvr32 /s /u "$(winepath -w "$component")" || true
fi
run "regsvr32 /u KbdBridge.dll" wine regsvr32 /s /u KbdBridge.dll
run "unregistered again -> 339" wine kbdbridge_client_test.exe absent
wineserver -w
exit $status
