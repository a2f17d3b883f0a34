#!/usr/bin/env bash
# The Windows tests: cross-builds qzCardReader.dll, kbdsim and the test programs for x64 and
# i686, then CTest runs every check under Wine, once for the x64 DLL from 64-bit hosts and once
# for the x86 DLL from 32-bit hosts (tests/wine/CMakeLists.txt). The simulated terminal is the
# native build's ctsim (built here when missing; CTSIM=path overrides it).
set -euo pipefail
cd "$(dirname "$0")/.."
ctsim=${CTSIM:-$PWD/build/native/tools/ctsim/ctsim}
[[ -x $ctsim ]] || { cmake --preset native >/dev/null && cmake --build --preset native --target ctsim; }
cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32 -j "$(nproc)"
cmake --preset mingw -DQZ_CTSIM="$ctsim" >/dev/null
cmake --build --preset mingw -j "$(nproc)"
ctest --test-dir build/mingw --output-on-failure
