#!/usr/bin/env bash
# Builds the benchmarks (preset "bench") and prints every figure as one Markdown table.
# Usage: scripts/bench.sh [READS]   (READS: whole reads per end-to-end figure, default 100)
set -euo pipefail
cd "$(dirname "$0")/.."
reads="${1:-100}"
scans=$(( reads / 20 > 3 ? reads / 20 : 3 ))

scripts/deps.sh native >&2
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" --target qz_micro_bench qz_line_bench >&2
bin=build/bench/bench

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "Machine: ${cpu}, $(nproc) cores, $(uname -sr), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| figure | value | target | verdict |"
echo "|---|---|---|---|"

# Google Benchmark: one row per case, throughput in MB/s of answer bytes (decoding) or line bytes
# (assembly), over processor time.
"$bin/qz_micro_bench" --benchmark_format=csv --benchmark_min_time=0.5 2>/dev/null |
  awk -F, 'NR > 1 && $1 != "" {
    name = $1; gsub(/"/, "", name)
    printf "| %s: throughput | %.1f MB/s (%.0f ns processor time per answer) | above the line'"'"'s 0.87 kB/s | %s |\n",
           name, $6 / 1e6, $4, ($6 > 873 ? "met" : "**missed**")
  }'

for card in tagged fixed; do
  "$bin/qz_line_bench" inproc "$card" "$reads" 0
done
"$bin/qz_line_bench" inproc tagged "$(( reads / 2 > 10 ? reads / 2 : 10 ))" 20
half=$(( reads / 2 > 10 ? reads / 2 : 10 ))
for card in tagged fixed; do
  "$bin/qz_line_bench" process "$card" "$half"
  "$bin/qz_line_bench" process-unpaced "$card" "$half"
done
"$bin/qz_line_bench" port-search "$scans"

# The same reads with the benchmark at real-time priority, where that is allowed: on a busy
# machine this takes the scheduler's queueing out of the turnaround and shows the component's.
if chrt -f 20 true 2>/dev/null; then
  for card in tagged fixed; do
    chrt -f 20 "$bin/qz_line_bench" inproc "$card" "$reads" 0 |
      sed 's/^| \([A-Za-z]*\), /| \1 (real-time priority), /'
  done
fi
echo
echo "Load average after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
