#!/usr/bin/env bash
# Assembles the Windows distributable: a folder and a zip with qzCardReader.dll for x64 and x86,
# the type library, register.cmd / unregister.cmd, the VBScript example, a README, the guide and
# the simulated keyboard reader kbdsim (KbdBridge.dll, x64 and x86); then checks the zip's contents.
#
# Usage: scripts/package-windows.sh [--x64 DLL] [--x86 DLL] [--tlb TLB]
#                                   [--kbdsim-x64 DLL] [--kbdsim-x86 DLL] [--out DIR]
#   defaults: build/mingw/qzCardReader.dll, build/mingw32/qzCardReader.dll,
#             build/mingw/com/qzCardReader.tlb, build/mingw{,32}/kbdsim/KbdBridge.dll, build/dist
# Build the DLLs first: cmake --preset mingw && cmake --build --preset mingw (and mingw32).
# Prints the zip's path as its last line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

x64=$root/build/mingw/qzCardReader.dll
x86=$root/build/mingw32/qzCardReader.dll
tlb=$root/build/mingw/com/qzCardReader.tlb
kbd64=$root/build/mingw/kbdsim/KbdBridge.dll
kbd86=$root/build/mingw32/kbdsim/KbdBridge.dll
out=$root/build/dist
while (($#)); do
  case "$1" in
    --x64) x64=$2; shift 2 ;;
    --x86) x86=$2; shift 2 ;;
    --tlb) tlb=$2; shift 2 ;;
    --kbdsim-x64) kbd64=$2; shift 2 ;;
    --kbdsim-x86) kbd86=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package-windows: unknown argument $1" >&2; exit 2 ;;
  esac
done

die() { echo "package-windows: $*" >&2; exit 1; }

# The machine a PE file is built for: x64, x86 or something else.
pe_machine() {
  local offset sig machine
  [[ $(head -c 2 "$1" | od -An -c | tr -d ' ') == MZ ]] || { echo "not-pe"; return; }
  offset=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  sig=$(od -An -c -j "$offset" -N 2 "$1" | tr -d ' ')
  [[ $sig == PE ]] || { echo "not-pe"; return; }
  machine=$(od -An -t x2 -j $((offset + 4)) -N 2 "$1" | tr -d ' ')
  case "$machine" in
    8664) echo x64 ;;
    014c) echo x86 ;;
    *) echo "machine-$machine" ;;
  esac
}

for f in "$x64" "$x86" "$tlb" "$kbd64" "$kbd86"; do [[ -s "$f" ]] || die "missing or empty: $f"; done
for f in "$x64" "$kbd64"; do [[ $(pe_machine "$f") == x64 ]] || die "$f is not an x64 DLL ($(pe_machine "$f"))"; done
for f in "$x86" "$kbd86"; do [[ $(pe_machine "$f") == x86 ]] || die "$f is not an x86 DLL ($(pe_machine "$f"))"; done
[[ $(head -c 4 "$tlb") == MSFT ]] || die "$tlb is not a type library"

version=$(sed -n 's/^project(qzCardReader VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[[ -n "$version" ]] || die "no version in CMakeLists.txt"
name=qzCardReader-$version-windows
stage=$out/$name
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage/x64" "$stage/x86" "$stage/kbdsim/x64" "$stage/kbdsim/x86"

cp "$x64" "$stage/x64/qzCardReader.dll"
cp "$x86" "$stage/x86/qzCardReader.dll"
cp "$tlb" "$stage/qzCardReader.tlb"
cp "$kbd64" "$stage/kbdsim/x64/KbdBridge.dll"
cp "$kbd86" "$stage/kbdsim/x86/KbdBridge.dll"
# Text files in CR LF, as cmd.exe, cscript and Notepad expect.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf "$root/packaging/windows/register.cmd" "$stage/register.cmd"
crlf "$root/packaging/windows/unregister.cmd" "$stage/unregister.cmd"
sed "s/@VERSION@/$version/" "$root/packaging/windows/README.txt" >"$stage/README.tmp"
crlf "$stage/README.tmp" "$stage/README.txt"
rm "$stage/README.tmp"
crlf "$root/docs/examples/read_card.vbs" "$stage/read_card.vbs"
crlf "$root/docs/integration-guide.md" "$stage/integration-guide.md"

(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")

# The check: exactly the expected files, none empty, DLLs for the right machines.
expected="$name/README.txt
$name/kbdsim/x64/KbdBridge.dll
$name/kbdsim/x86/KbdBridge.dll
$name/integration-guide.md
$name/qzCardReader.tlb
$name/read_card.vbs
$name/register.cmd
$name/unregister.cmd
$name/x64/qzCardReader.dll
$name/x86/qzCardReader.dll"
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
(cd "$check" && cmake -E tar xf "$out/$name.zip")
actual=$(cd "$check" && find "$name" -type f | LC_ALL=C sort)
[[ "$actual" == "$(LC_ALL=C sort <<<"$expected")" ]] ||
  die "the zip holds:"$'\n'"$actual"$'\n'"expected:"$'\n'"$expected"
while read -r f; do [[ -s "$check/$f" ]] || die "empty in the zip: $f"; done <<<"$expected"
[[ $(pe_machine "$check/$name/x64/qzCardReader.dll") == x64 ]] || die "x64\\ holds no x64 DLL"
[[ $(pe_machine "$check/$name/x86/qzCardReader.dll") == x86 ]] || die "x86\\ holds no x86 DLL"
[[ $(pe_machine "$check/$name/kbdsim/x64/KbdBridge.dll") == x64 ]] || die "kbdsim\\x64\\ holds no x64 DLL"
[[ $(pe_machine "$check/$name/kbdsim/x86/KbdBridge.dll") == x86 ]] || die "kbdsim\\x86\\ holds no x86 DLL"
for f in register.cmd unregister.cmd README.txt read_card.vbs; do
  if grep -qv $'\r$' "$check/$name/$f"; then die "$f has lines without CR LF"; fi
done
for dll in x64 x86; do
  grep -aq DllInstall "$check/$name/$dll/qzCardReader.dll" ||
    echo "package-windows: warning: $dll DLL exports no DllInstall; register.cmd /user needs it" >&2
done
echo "$out/$name.zip"
