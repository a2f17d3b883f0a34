#!/usr/bin/env bash
# The main job: builds kvkread and reads a card from the built-in simulated terminal.
# The terminal runs inside kvkread on a pseudo-terminal, so no hardware is needed. The reader
# window's progress texts appear on standard error, the decoded card on standard output.
# Extra arguments go to kvkread, e.g. scripts/demo.sh --json, or --simulate=no-card to play
# another scenario.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh native
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target kvkread
echo "== kvkread --simulate $*" >&2
exec build/native/tools/kvkread/kvkread --simulate "$@"
