#!/usr/bin/env bash
# Paced reads under Wine: for the x64 DLL from a 64-bit script host and the x86 DLL from a
# 32-bit one, ReadCard against `ctsim --pace` with each test card, 8 reads a run; prints the
# median wall time of each. Wine's serial layer is part of what is measured. Needs the mingw and
# mingw32 builds and the native ctsim (scripts/test-windows.sh makes them).
# Usage: bench/wine_bench.sh [RUNS]   (default 3 runs, 24 reads a row)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
export WINEPREFIX=$root/build/wine-bench/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=d
export DISPLAY=${QZ_BENCH_DISPLAY:-:97} CTSIM=${CTSIM:-$root/build/native/tools/ctsim/ctsim}
trap '"$root/tests/wine/fixture.sh" down' EXIT
"$root/tests/wine/fixture.sh" up
"$root/tests/wine/run.sh" x64 regsvr32 /s "$root/build/mingw/qzCardReader.dll"
"$root/tests/wine/run.sh" x86 regsvr32 /s "$root/build/mingw32/qzCardReader.dll"
for arch in x64 x86; do
  for card in tagged fixed; do
    spec="$card --pace"
    ports=$spec,$spec,$spec,$spec,$spec,$spec,$spec,$spec
    for ((i = 0; i < runs; i++)); do
      "$root/tests/wine/run.sh" "$arch" --ports "$ports" cscript //nologo \
        "$root/bench/wine_read.vbs" 8
    done | tr -d '\r' | sort -n | awk -v what="$arch $card" '
      $2 != 0 { bad++ } { ms[NR] = $1 }
      END { printf "%s: median %.1f ms of %d reads (%d failed)\n", what,
            (ms[int((NR + 1) / 2)] + ms[int(NR / 2) + 1]) / 2, NR, bad }'
  done
done
