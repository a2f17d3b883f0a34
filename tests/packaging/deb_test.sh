#!/usr/bin/env bash
# Builds the .deb with CPack, installs it with dpkg, reads the simulated card with the installed
# kvkread and the example built against the installed package, then removes and purges it and
# checks that nothing of it is left. Needs root (exit 77 = skipped otherwise).
# deb_test.sh BUILD_DIR SOURCE_DIR CXX
source "$(dirname "$0")/common.sh"
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) cxx=$3

if [[ $(id -u) -ne 0 ]]; then
  echo "SKIP: installing a .deb needs root (the CI runs this test as root)"
  exit 77
fi
command -v dpkg >/dev/null || { echo "SKIP: no dpkg on this system"; exit 77; }
# One install at a time on this machine, also across build directories.
exec {lock}>"${TMPDIR:-/tmp}/qzcardreader-deb-test.lock"
flock -w 600 "$lock" || fail "another .deb test held the lock for 10 minutes"
if dpkg-query -W -f='${Status}' qzcardreader 2>/dev/null | grep -q "ok installed"; then
  echo "SKIP: a qzcardreader package is already installed; not touching it"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qz-deb.XXXXXX")
installed=no
cleanup() {
  stop_ctsim
  [[ $installed == yes ]] && dpkg -P qzcardreader >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }
deb=$(find "$work/out" -maxdepth 1 -name 'qzcardreader_*.deb' | head -1)
[[ -n "$deb" ]] || fail "no .deb made"
grep -q dialout <<<"$(dpkg-deb -f "$deb" Description)" || fail "the description does not name dialout"
listing=$(dpkg-deb -c "$deb")
grep -q "/usr/bin/kvkread$" <<<"$listing" || fail "kvkread not in the package"
# (Checked in the package: minimal systems often tell dpkg to leave out /usr/share/man.)
for page in kvkread ctsim; do
  grep -q "/usr/share/man/man1/$page.1" <<<"$listing" || fail "no man page $page.1 in the package"
done

dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
installed=yes
mapfile -t files < <(dpkg -L qzcardreader | while read -r f; do [[ -f "$f" ]] && echo "$f"; done)

# The error log beside the library exists and the serial devices' group may write it.
lib=$(dpkg -L qzcardreader | grep -m1 '/libqzcardreader\.so$')
[[ -n "$lib" ]] || fail "no libqzcardreader.so in the package"
log=${lib%.so}.err
[[ -f "$log" ]] || fail "postinst made no error log $log"
if getent group dialout >/dev/null; then
  [[ $(stat -c '%G %a' "$log") == "dialout 664" ]] || fail "error log: $(stat -c '%G %a' "$log")"
fi

out=$(cd / && timeout 120 kvkread --simulate 2>/dev/null) || fail "kvkread --simulate: $out"
expect_card "$out"

# A host program built against the installed package (as a developer on this system would).
cp -r "$source/examples" "$work/examples"
cmake -S "$work/examples" -B "$work/build" -DCMAKE_CXX_COMPILER="$cxx" >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/build" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "example"; }
start_ctsim ctsim
out=$(timeout 120 "$work/build/read_card" "$CTSIM_PTY" 2>/dev/null) || fail "read_card: $out"
expect_card "$out"
stop_ctsim

dpkg -r qzcardreader >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r"; }
dpkg -P qzcardreader >>"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -P"; }
installed=no
for f in "${files[@]}"; do [[ ! -e "$f" ]] || fail "left behind after removal: $f"; done
! command -v kvkread >/dev/null || fail "kvkread still on the PATH after removal"
log=$(find /usr/lib -maxdepth 2 -name 'libqzcardreader.err' | head -1)
[[ -z "$log" ]] || fail "error log left behind after purge: $log"
echo "ok"
