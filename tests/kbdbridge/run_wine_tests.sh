#!/usr/bin/env bash
# Runs the Windows keyboard reader's tests under Wine against the stand-in KbdBridge.dll: the
# scenarios with the class registered, creation failing with 339 while it is not or its library
# is missing. Given qzCardReader.dll too, it also reads through the component as a host does
# (ReadCard with the keyboard reader), under xvfb-run as the reader window needs a display.
# Usage: run_wine_tests.sh <dir with KbdBridge.dll and kbdbridge_client_test.exe> [qzCardReader.dll]
# WINEPREFIX defaults to a prefix of its own in that directory. Prints "ok: ..." or "FAILED: ..."
# per test.
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

# The keys by which COM finds the class, as the real library's registration leaves them.
clsid='{D574E3F5-E889-4008-B43A-AA43D49FF9C0}'
register() {
  local path
  path=$(winepath -w "$dir/KbdBridge.dll" | sed 's/\\/\\\\/g')
  cat >kbdbridge.reg <<REG
REGEDIT4

[HKEY_CLASSES_ROOT\\CLSID\\$clsid\\InprocServer32]
@="$path"
"ThreadingModel"="Apartment"

[HKEY_CLASSES_ROOT\\KbdBridge.qzCherry\\CLSID]
@="$clsid"
REG
  wine regedit /s kbdbridge.reg
}
unregister() {
  wine reg delete "HKCR\\CLSID\\$clsid" /f >/dev/null 2>&1 || true
  wine reg delete 'HKCR\KbdBridge.qzCherry' /f >/dev/null 2>&1 || true
}

unregister
run "not registered -> 339" wine kbdbridge_client_test.exe absent
run "register KbdBridge.dll" register
run "keyboard reader scenarios" wine kbdbridge_client_test.exe
mv KbdBridge.dll KbdBridge.dll.moved
run "registered, library missing -> 339" wine kbdbridge_client_test.exe absent
mv KbdBridge.dll.moved KbdBridge.dll

# One read per scenario. The stand-in's error text carries a marker that finds this run's lines
# in the error log beside the component, and a probe of the windows as the read starts.
read_card() {  # scenario, expected recorded time-out, expected handler log lines[, probe]
  local scenario=$1 marker="Lesefehler $$-$RANDOM" ok=1 recorded lines want
  rm -f record.txt probe.txt
  wineserver -w  # a headless server left over cannot open windows on the new display
  KBDBRIDGE_SCENARIO=$scenario KBDBRIDGE_RECORD=record.txt KBDBRIDGE_TEXT="$marker" \
    KBDBRIDGE_PROBE=probe.txt xvfb-run -a wine cscript //nologo keyboard_read.vbs "$scenario" \
    "$marker" || ok=0
  recorded=$(paste -sd, record.txt 2>/dev/null | tr -d '\r')
  [[ $recorded == "$2" ]] || { echo "recorded time-outs: '$recorded', want '$2'"; ok=0; }
  lines=$(grep -a -F "$marker" "$log" 2>/dev/null | grep -c -F "Method : mKeyboard_CherryError")
  [[ $lines == "$3" ]] || { echo "handler log lines: $lines, want $3"; ok=0; }
  # The reader window as the library sees it: shown, titled for the keyboard, cancel disabled.
  if [[ ${4-} == probe ]]; then
    for want in "window .* enabled=1 text=KVK Kartenleseger" \
      "control Static enabled=1 text=KVK Kartenlesegerät an Tastatur" \
      "control Static enabled=1 text=Bitte warten, bis Karte eingelesen wurde" \
      "control Button enabled=0 text=Abbruch"; do
      grep -q -i -E "^$want" probe.txt 2>/dev/null || { echo "not seen: $want"; ok=0; }
    done
  fi
  ((ok))
}
if [[ -n $component ]]; then
  cp "$here/keyboard_read.vbs" .
  log="${component%.dll}.err"
  run "regsvr32 qzCardReader.dll" wine regsvr32 /s "$(winepath -w "$component")"
  wineserver -w
  run "ReadCard keyboard: success" read_card success 5000 0 probe
  run "ReadCard keyboard: card unreadable" read_card unreadable 5000 0
  run "ReadCard keyboard: error 7" read_card error7 5000 1 probe
  run "ReadCard keyboard: Error report" read_card error-event 5000 0
  run "ReadCard keyboard: ReadKVK fails" read_card fail 5000 0
  unregister
  run "ReadCard keyboard: library absent" read_card absent "" 0
  wine regsvr32 /s /u "$(winepath -w "$component")" || true
fi
wineserver -w
exit $status
