#!/usr/bin/env bash
# Installs the build into a temporary prefix, then, using only what was installed: the host's API
# (six headers at most), the library's soname, the man pages, the example built against the CMake
# package and against the pkg-config file reading the simulated card, kvkread --simulate, and
# kvkread's advice on a device the user may not open.
# install_test.sh BUILD_DIR SOURCE_DIR CXX "CXXFLAGS" "LDFLAGS"
source "$(dirname "$0")/common.sh"
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) cxx=$3 cxxflags=${4:-} ldflags=${5:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/qz-install.XXXXXX")
trap 'stop_ctsim; rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
lib=$(find "$prefix" -name 'libqzcardreader.so' | head -1)
[[ -n "$lib" ]] || fail "libqzcardreader.so not installed"
libdir=$(dirname "$lib")
objdump -p "$lib" | grep -Eq 'SONAME +libqzcardreader\.so\.[0-9]+$' || fail "no versioned soname"
headers=$(cd "$prefix/include" && find . -type f)
(($(wc -l <<<"$headers") <= 6)) || fail "more than six headers installed: $headers"
for page in kvkread ctsim; do
  head -5 "$prefix/share/man/man1/$page.1" 2>/dev/null | grep -q '^\.TH' || fail "no man page $page.1"
done

# The example as a host builds it: against the CMake package, and against the pkg-config file.
cp -r "$source/examples" "$work/examples"
cmake -S "$work/examples" -B "$work/build-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror $cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >"$work/build.log" 2>&1 &&
  cmake --build "$work/build-cmake" >>"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "building the example with find_package"; }
export PKG_CONFIG_PATH="$libdir/pkgconfig"
read -r -a pc_flags <<<"$(pkg-config --cflags --libs qzcardreader)"
read -r -a extra <<<"$cxxflags $ldflags"
"$cxx" -std=c++20 "${extra[@]}" "$work/examples/read_card.cpp" "${pc_flags[@]}" \
  -Wl,-rpath,"$libdir" -o "$work/read_card_pc" || fail "building the example with pkg-config"
for program in "$work/build-cmake/read_card" "$work/read_card_pc"; do
  start_ctsim "$prefix/bin/ctsim"
  out=$(timeout 120 "$program" "$CTSIM_PTY" 2>/dev/null) || fail "$program: $out"
  expect_card "$out"
  stop_ctsim
  grep -q "$libdir/libqzcardreader.so" <<<"$(ldd "$program")" || fail "$program uses another library"
done
out=$(timeout 120 "$prefix/bin/kvkread" --simulate 2>/dev/null) || fail "kvkread --simulate: $out"
expect_card "$out"

# A device the user may not open: the error is followed by which group to join. As root the
# program runs as an unprivileged user; otherwise the device is made unreadable for its owner.
start_ctsim "$prefix/bin/ctsim"
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  chmod -R a+rX "$work"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  "${as_user[@]}" test -x "$prefix/bin/kvkread" || { echo "note: $work out of reach of user 65534"; exit 0; }
fi
chmod 0000 "$CTSIM_PTY"
rc=0
err=$(timeout 60 "${as_user[@]}" "$prefix/bin/kvkread" --device "$CTSIM_PTY" 2>&1 >/dev/null) || rc=$?
[[ $rc -eq 2 && $err == "Error "* && $err == *"usermod -aG"* ]] ||
  fail "unopenable device: exit status $rc, want 2, an error and advice on the group: $err"
echo "ok"
