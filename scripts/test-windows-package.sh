#!/usr/bin/env bash
# The Windows distributable as a user meets it, under Wine: assembles the zip
# (scripts/package-windows.sh), unpacks it, runs register.cmd, reads the simulated terminal's card
# on COM1 with the zip's read_card.vbs, runs unregister.cmd and checks the class is gone; then the
# same per user (register.cmd /user) when the DLL exports DllInstall.
#
# Usage: scripts/test-windows-package.sh [CTSIM [PACKAGE-WINDOWS ARGUMENTS...]]
# (needs the mingw and mingw32 builds, or --x64/--x86/--tlb for package-windows.sh; CTSIM
# defaults to build/native/tools/ctsim/ctsim). Exit status 0 when every step passed.
set -uo pipefail
# The reader window needs a display: a virtual one when there is none.
if [[ -z "${DISPLAY:-}" && -z "${QZ_UNDER_XVFB:-}" ]] && command -v xvfb-run >/dev/null; then
  QZ_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
root=$(cd "$(dirname "$0")/.." && pwd)
ctsim=${1:-$root/build/native/tools/ctsim/ctsim}
(($#)) && shift
out=$(mktemp -d "${TMPDIR:-/tmp}/qz-winpkg.XXXXXX")
export WINEPREFIX=$out/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failed=0
term_pid=""

cleanup() {
  [[ -n "$term_pid" ]] && kill "$term_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
  rm -rf "$out"
}
trap cleanup EXIT
step() {  # name, command...
  local name=$1; shift
  if "$@" >"$out/step.log" 2>&1; then
    echo "PASS $name"
  else
    echo "FAIL $name"; sed 's/^/    /' "$out/step.log"; failed=1
  fi
}

zip=$("$root/scripts/package-windows.sh" "$@" --out "$out/dist" 2>"$out/package.log" | tail -1)
if [[ ! -s "$zip" ]]; then
  echo "FAIL the zip is assembled and checked"; sed 's/^/    /' "$out/package.log"; exit 1
fi
echo "PASS the zip is assembled and checked"
user_scope=yes
grep -q "warning: x64 DLL exports no DllInstall" "$out/package.log" && user_scope=no

mkdir -p "$out/unpacked"
(cd "$out/unpacked" && cmake -E tar xf "$zip")
dir=$(find "$out/unpacked" -mindepth 1 -maxdepth 1 -type d | head -1)
timeout 300 wineboot -i >/dev/null 2>&1

# COM1 is a simulated terminal.
exec {term_fd}< <(exec "$ctsim" 2>/dev/null)
term_pid=$!
IFS= read -r -t 60 -u "$term_fd" pty || { echo "FAIL ctsim printed no port"; exit 1; }
rm -f "$WINEPREFIX/dosdevices/com1"
ln -s "$pty" "$WINEPREFIX/dosdevices/com1"

# The class's ProgID entry of a scope: HKCR for the machine; HKCU\Software\Classes for a user.
classes_of() { [[ $1 == user ]] && echo 'HKCU\Software\Classes' || echo 'HKCR'; }
registered() { timeout 60 wine reg query "$(classes_of "$scope")\qzCardReader.clsApplication\Clsid"; }
not_registered() { ! registered; }
read_card() {
  local log=$out/vbs.log
  (cd "$dir" && timeout 300 wine cscript //nologo read_card.vbs 1) >"$log" 2>&1
  local rc=$?
  cat "$log"
  [[ $rc -eq 0 ]] && grep -q "^Result: 0 RV_ReadSuccessful" "$log" && grep -q "^FamilienName: W" "$log"
}
in_dir() { (cd "$dir" && timeout 300 wine cmd /c "$@"); }

for scope in machine user; do
  arg=""
  if [[ $scope == user ]]; then
    if [[ $user_scope == no ]]; then
      echo "SKIP per-user registration: the DLL exports no DllInstall yet"
      continue
    fi
    arg=/user
  fi
  step "register.cmd${arg:+ $arg} ($scope)" in_dir register.cmd $arg
  step "the class is registered ($scope)" registered
  # Wine's COM looks only at the machine's classes, so a per-user registration is checked by
  # its entries; on Windows HKEY_CLASSES_ROOT shows them to every host of that user.
  if [[ $scope == machine ]]; then
    step "read_card.vbs reads the simulated card on COM1 ($scope)" read_card
  fi
  step "unregister.cmd${arg:+ $arg} ($scope)" in_dir unregister.cmd $arg
  step "the class is gone ($scope)" not_registered
done
exit $failed
