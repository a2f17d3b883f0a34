#!/usr/bin/env bash
# The distributable zip as a user meets it, under Wine: scripts/package-windows.sh makes it from
# the given files, register.cmd registers both DLLs side by side, the guide's example
# read_card.vbs reads the simulated card from a 64-bit and from a 32-bit script host,
# unregister.cmd removes both; then the same per user (register.cmd /user).
# Usage: test-windows-package.sh PACKAGE-WINDOWS ARGUMENTS...; a CTest test of the mingw build,
# which sets WINEPREFIX, DISPLAY and CTSIM. Exit status 0 when every step passed.
set -euxo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
run=$root/tests/wine/run.sh
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
zip=$("$root/scripts/package-windows.sh" "$@" --out "$out" | tail -1)
(cd "$out" && cmake -E tar xf "$zip")
cd "$out"/qzCardReader-*-windows

# registered SCOPE: whether the ProgID is there for a 64-bit and for a 32-bit host ("both",
# "none"; anything else is a half registration).
registered() {
  local arch seen=""
  for arch in x64 x86; do
    "$run" $arch reg query "$1\\qzCardReader.clsApplication\\Clsid" >/dev/null 2>&1 && seen+=$arch
  done
  case $seen in x64x86) echo both ;; "") echo none ;; *) echo "only $seen" ;; esac
}

"$run" x64 cmd /c register.cmd
for arch in x64 x86; do "$run" $arch --ports tagged cscript //nologo read_card.vbs 1 2; done
"$run" x64 cmd /c unregister.cmd
[[ $(registered HKCR) == none ]]

"$run" x64 cmd /c register.cmd /user
[[ $(registered 'HKCU\Software\Classes') == both ]]
"$run" x64 cmd /c unregister.cmd /user
[[ $(registered 'HKCU\Software\Classes') == none ]]
