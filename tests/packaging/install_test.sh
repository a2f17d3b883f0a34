#!/usr/bin/env bash
# Installs the build into a temporary prefix, then, using only what was installed: builds the
# example against the CMake package and against the pkg-config file, reads the simulated card with
# both and with kvkread, checks the man pages, and kvkread's advice on a device it may not open.
# install_test.sh BUILD_DIR SOURCE_DIR CXX "CXXFLAGS" "LDFLAGS"
source "$(dirname "$0")/common.sh"
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) cxx=$3 cxxflags=${4:-} ldflags=${5:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/qz-install.XXXXXX")
trap 'stop_ctsim; rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
for f in bin/kvkread bin/ctsim include/qzcardreader/qzcardreader.h; do
  [[ -e "$prefix/$f" ]] || fail "not installed: $f"
done
lib=$(find "$prefix" -name 'libqzcardreader.so' | head -1)
[[ -n "$lib" ]] || fail "libqzcardreader.so not installed"
libdir=$(dirname "$lib")
[[ -e "$libdir/cmake/qzCardReader/qzCardReaderConfig.cmake" ]] || fail "no CMake package"
[[ -e "$libdir/pkgconfig/qzcardreader.pc" ]] || fail "no pkg-config file"
for page in kvkread ctsim; do
  head -5 "$prefix/share/man/man1/$page.1" 2>/dev/null | grep -q '^\.TH' || fail "no man page $page.1"
done
# The installed headers stand on their own: nothing but the installed tree is on the path.
mapfile -t includes < <(grep -rhoE '#include "[^"]+"' "$prefix/include/qzcardreader" |
                        sed -E 's/#include "(.*)"/\1/' | sort -u)
for inc in "${includes[@]}"; do
  [[ -e "$prefix/include/qzcardreader/$inc" ]] || fail "installed headers include $inc, not installed"
done

# The example against the CMake package, in a directory of its own.
cp -r "$source/examples" "$work/examples"
cmake -S "$work/examples" -B "$work/build-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "configuring the example"; }
cmake --build "$work/build-cmake" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "building the example with find_package"; }

# The example against the pkg-config file.
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
  # Built against the installed library, not the build tree's.
  grep -q "$libdir/libqzcardreader.so " <<<"$(ldd "$program")" || fail "$program uses another library"
done

out=$(timeout 120 "$prefix/bin/kvkread" --simulate 2>/dev/null) || fail "kvkread --simulate: $out"
expect_card "$out"

# A device the user may not open: the error is followed by which group to join. As root the
# program runs as an unprivileged user (when it can reach the temporary prefix); otherwise the
# device is made unreadable for its owner.
check_permission_advice() {
  local rc=0 err
  start_ctsim "$prefix/bin/ctsim"
  if [[ $(id -u) -eq 0 ]]; then
    chmod 0600 "$CTSIM_PTY"
    err=$(timeout 60 "${as_nobody[@]}" "$prefix/bin/kvkread" --device "$CTSIM_PTY" 2>&1 >/dev/null) || rc=$?
  else
    chmod 0000 "$CTSIM_PTY"
    err=$(timeout 60 "$prefix/bin/kvkread" --device "$CTSIM_PTY" 2>&1 >/dev/null) || rc=$?
  fi
  stop_ctsim
  [[ $rc -eq 2 ]] || fail "unopenable device: exit status $rc, want 2 ($err)"
  grep -q "^Error " <<<"$err" || fail "unopenable device: no error printed: $err"
  grep -q "usermod -aG" <<<"$err" || fail "unopenable device: no advice on the group: $err"
}
as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
if [[ $(id -u) -eq 0 ]]; then
  chmod -R a+rX "$work"
  if ! "${as_nobody[@]}" test -x "$prefix/bin/kvkread"; then
    echo "note: advice on device permissions not checked: $work is out of reach of user 65534"
  else
    check_permission_advice
  fi
else
  check_permission_advice
fi
echo "ok"
