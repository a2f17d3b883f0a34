#!/usr/bin/env bash
# One keyboard read through the whole Linux path: kvkread --keyboard, the component and the
# keyboard library that the loader finds (or not) in <library dir>.
# Usage: kvkread_keyboard.sh <kvkread> <library dir> <error log> <scenario> <waiting time>
#          <regex the JSON output must match> [<expected recorded time-outs> [<expected number of
#          mKeyboard_CherryError log lines>]]
set -uo pipefail
kvkread=$1 libdir=$2 log=$3 scenario=$4 waiting=$5 expect=$6
want_record=${7-} want_log=${8-}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
marker="Lesefehler $$-$RANDOM"  # finds this run's entries in a log other tests share

out=$(env LD_LIBRARY_PATH="$libdir" KBDBRIDGE_SCENARIO="$scenario" KBDBRIDGE_MAX_MS=100 \
  KBDBRIDGE_RECORD="$work/record" KBDBRIDGE_TEXT="$marker" \
  "$kvkread" --keyboard --json --waiting-time "$waiting" </dev/null 2>"$work/stderr")
echo "output: $out"
status=0
if [[ ! $out =~ $expect ]]; then
  echo "FAIL: output does not match: $expect"
  status=1
fi
if [[ -n $want_record ]]; then
  recorded=$(paste -sd, "$work/record" 2>/dev/null)
  echo "recorded: $recorded"
  [[ $recorded == "$want_record" ]] || { echo "FAIL: recorded time-outs, want $want_record"; status=1; }
fi
if [[ -n $want_log ]]; then
  lines=$(grep -a -F "$marker" "$log" 2>/dev/null | grep -c -F "Method : mKeyboard_CherryError")
  echo "handler log lines: $lines"
  [[ $lines == "$want_log" ]] || { echo "FAIL: handler log lines, want $want_log"; status=1; }
fi
if ((status != 0)) && [[ -s $work/stderr ]]; then
  echo "stderr:"
  cat "$work/stderr"
fi
exit $status
