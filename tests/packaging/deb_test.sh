#!/usr/bin/env bash
# Builds the .deb with CPack, installs it with dpkg, reads the simulated card with the installed
# kvkread away from any checkout (the example host is built against an installed tree by
# install_test.sh), then removes and purges it and checks that nothing of it is left. Needs root
# (exit 77 = skipped otherwise).
# deb_test.sh BUILD_DIR SOURCE_DIR
source "$(dirname "$0")/common.sh"
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)

[[ $(id -u) -eq 0 ]] || { echo "SKIP: installing a .deb needs root"; exit 77; }
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
trap 'stop_ctsim; [[ $installed == yes ]] && dpkg -P qzcardreader >/dev/null 2>&1; rm -rf "$work"' EXIT

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out") >"$work/log" 2>&1 ||
  { cat "$work/log"; fail "cpack -G DEB"; }
deb=$(find "$work/out" -maxdepth 1 -name 'qzcardreader_*.deb' | head -1)
grep -q dialout <<<"$(dpkg-deb -f "$deb" Description)" || fail "the description does not name dialout"
# (Checked in the package: minimal systems often tell dpkg to leave out /usr/share/man.)
grep -q "/usr/share/man/man1/ctsim.1" <<<"$(dpkg-deb -c "$deb")" || fail "no man pages in the package"
dpkg -i "$deb" >"$work/log" 2>&1 || { cat "$work/log"; fail "dpkg -i"; }
installed=yes
mapfile -t files < <(dpkg -L qzcardreader | while read -r f; do [[ -f "$f" ]] && echo "$f"; done)

# The error log beside the library exists and the serial devices' group may write it.
log=$(dpkg -L qzcardreader | grep -m1 '/libqzcardreader\.so$')
log=${log%.so}.err
[[ -f "$log" ]] || fail "postinst made no error log $log"
! getent group dialout >/dev/null || [[ $(stat -c '%G %a' "$log") == "dialout 664" ]] ||
  fail "error log: $(stat -c '%G %a' "$log")"

# The programs carry their cards and know no checkout: the build tree's sources are out of reach.
! grep -qF "$source/tests" /usr/bin/ctsim /usr/bin/kvkread || fail "a program names the checkout"
out=$(cd / && timeout 120 kvkread --simulate=fixed 2>/dev/null) || fail "kvkread --simulate: $out"
grep -q "Rhöntal" <<<"$out" || fail "not the fixed card: $out"

dpkg -P qzcardreader >"$work/log" 2>&1 || { cat "$work/log"; fail "dpkg -P"; }
installed=no
for f in "${files[@]}" "$log"; do [[ ! -e "$f" ]] || fail "left behind after purge: $f"; done
! command -v kvkread >/dev/null || fail "kvkread still on the PATH after removal"
echo "ok"
