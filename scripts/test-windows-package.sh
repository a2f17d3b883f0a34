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

# The ProgID in the classes of a scope; register.cmd's exit status says whether both DLLs were
# registered.
registered() { "$run" x64 reg query "$1\\qzCardReader.clsApplication\\Clsid" >/dev/null 2>&1; }
gone() { ! registered "$1"; }

"$run" x64 cmd /c register.cmd
for arch in x64 x86; do "$run" $arch --ports tagged cscript //nologo read_card.vbs 1 2; done
"$run" x64 cmd /c unregister.cmd
gone HKCR

"$run" x64 cmd /c register.cmd /user
registered 'HKCU\Software\Classes'
"$run" x64 cmd /c unregister.cmd /user
gone 'HKCU\Software\Classes'
