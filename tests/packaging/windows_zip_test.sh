#!/usr/bin/env bash
# scripts/package-windows.sh with stand-in DLLs (just a PE header for each machine) and type
# library: the zip is made and passes its own check; DLLs given for the wrong machine, a missing
# type library and a file that is no DLL are refused.
# windows_zip_test.sh SOURCE_DIR
source "$(dirname "$0")/common.sh"
source_dir=$1
script=$source_dir/scripts/package-windows.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/qz-winzip.XXXXXX")
trap 'rm -rf "$work"' EXIT

# stand_in_pe FILE MACHINE(hex, little-endian bytes as \x..): MZ, e_lfanew = 0x40, PE\0\0, machine.
stand_in_pe() {
  { printf 'MZ'; head -c 58 /dev/zero; printf '\x40\x00\x00\x00'; printf 'PE\x00\x00'; printf "$2"
    head -c 256 /dev/zero; } >"$1"
}
stand_in_pe "$work/x64.dll" '\x64\x86'
stand_in_pe "$work/x86.dll" '\x4c\x01'
{ printf 'MSFT'; head -c 64 /dev/zero; } >"$work/qzCardReader.tlb"

kbd=(--kbdsim-x64 "$work/x64.dll" --kbdsim-x86 "$work/x86.dll")
zip=$(bash "$script" --x64 "$work/x64.dll" --x86 "$work/x86.dll" --tlb "$work/qzCardReader.tlb" \
      "${kbd[@]}" --out "$work/dist" 2>"$work/err" | tail -1) || { cat "$work/err"; fail "packaging failed"; }
[[ -s "$zip" && "$zip" == "$work/dist/qzCardReader-"*"-windows.zip" ]] || fail "no zip: $zip"
listing=$(cmake -E tar tf "$zip")
for f in x64/qzCardReader.dll x86/qzCardReader.dll qzCardReader.tlb register.cmd unregister.cmd \
         read_card.vbs README.txt integration-guide.md kbdsim/x64/KbdBridge.dll kbdsim/x86/KbdBridge.dll; do
  grep -q "/$f\$" <<<"$listing" || fail "not in the zip: $f"
done
cmp -s "$work/x64.dll" "$work/dist/qzCardReader-"*"-windows/x64/qzCardReader.dll" ||
  fail "x64\\ does not hold the x64 DLL"
grep -q "DllInstall" "$work/err" || fail "no warning about the missing DllInstall export"

refused() {  # what, arguments...
  local what=$1; shift
  if bash "$script" "$@" "${kbd[@]}" --out "$work/bad" >/dev/null 2>"$work/err"; then fail "accepted: $what"; fi
  grep -q "package-windows:" "$work/err" || fail "refused without saying why: $what"
}
refused "DLLs swapped" --x64 "$work/x86.dll" --x86 "$work/x64.dll" --tlb "$work/qzCardReader.tlb"
refused "no type library" --x64 "$work/x64.dll" --x86 "$work/x86.dll" --tlb "$work/none.tlb"
refused "not a DLL" --x64 "$work/qzCardReader.tlb" --x86 "$work/x86.dll" --tlb "$work/qzCardReader.tlb"
echo "ok"
