#!/usr/bin/env bash
# Runs every test: formatting, the native build's tests, the same under ASan+UBSan, the fuzz
# targets for a bounded number of runs, and both Windows DLLs (x64, x86) under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/deps.sh all

echo "== clang-format"
scripts/format.sh --check

for preset in native asan fuzz; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

if [[ -x scripts/test-windows.sh ]]; then
  echo "== windows"
  scripts/test-windows.sh
fi
echo "All tests passed."
