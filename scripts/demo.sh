#!/usr/bin/env bash
# The main job: builds kvkread and reads a card from the built-in simulated terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh native
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
exec build/native/tools/kvkread/kvkread --simulate "$@"
