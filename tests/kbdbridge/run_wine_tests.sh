#!/usr/bin/env bash
# Runs the Windows keyboard reader's tests under Wine against the stand-in KbdBridge.dll:
# first with the class unregistered (creation must fail with 339), then registered by regsvr32
# (every scenario, and a script host's late binding), then unregistered again.
# Usage: run_wine_tests.sh <dir with KbdBridge.dll and kbdbridge_client_test.exe>
# WINEPREFIX defaults to a prefix of its own in that directory.
set -euo pipefail
dir=$(cd "${1:?usage: $0 <build dir of the stand-in>}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
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
run "regsvr32 /u KbdBridge.dll" wine regsvr32 /s /u KbdBridge.dll
run "unregistered again -> 339" wine kbdbridge_client_test.exe absent
wineserver -w
exit $status
