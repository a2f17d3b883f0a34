#!/usr/bin/env bash
# Keyboard reads through the whole Linux path: kvkread --keyboard, the component, and the
# keyboard library that the loader finds (or not), one run per case at the end.
# Usage: kvkread_keyboard.sh <kvkread> <stand-in dir> <dir without the library> <error log>
set -uo pipefail
kvkread=$1 standin=$2 empty=$3 log=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# library dir, scenario, waiting time, regex for the JSON output, recorded time-outs, number of
# mKeyboard_CherryError entries in the error log
check() {
  local scenario=$2 expect=$4 want_record=$5 want_log=$6 ok=1 out recorded lines
  local marker="Lesefehler $$-$RANDOM"  # finds this run's entries in a log other tests share
  rm -f "$work/record"
  out=$(env LD_LIBRARY_PATH="$1" KBDBRIDGE_SCENARIO="$scenario" KBDBRIDGE_MAX_MS=100 \
    KBDBRIDGE_RECORD="$work/record" KBDBRIDGE_TEXT="$marker" \
    "$kvkread" --keyboard --json --waiting-time "$3" </dev/null 2>"$work/stderr")
  [[ $out =~ $expect ]] || { echo "output does not match: $expect"; ok=0; }
  recorded=$(paste -sd, "$work/record" 2>/dev/null)
  [[ $recorded == "$want_record" ]] || { echo "time-outs '$recorded', want '$want_record'"; ok=0; }
  lines=$(grep -a -F "$marker" "$log" 2>/dev/null | grep -c -F "Method : mKeyboard_CherryError")
  [[ $lines == "$want_log" ]] || { echo "handler log entries: $lines, want $want_log"; ok=0; }
  if ((ok)); then
    echo "ok: $scenario"
  else
    echo "FAILED: $scenario, output: $out"
    cat "$work/stderr"
    failures=$((failures + 1))
  fi
}

fields=(KrankenKassenName KrankenKassenNummer VKNR VersichertenNummer VersichertenStatus
  StatusErgaenzung Titel Vorname NamensZusatz FamilienName Geburtsdatum StrassenName LaenderCode
  PostLeitzahl OrtsName Gueltigkeit Checksum)
empty_record=$(printf '"%s":"",' "${fields[@]}")
empty_record=${empty_record%,}

check "$standin" success 5 '"result":"RV_ReadSuccessful".*"KrankenKassenName":"Testkasse Süd","KrankenKassenNummer":"","VKNR":"99999".*"Vorname":"Jürgen".*"OrtsName":"Köln","Gueltigkeit":"12/29","Checksum":""' 5000 0
check "$standin" timeout 12 '"result":"RV_Error"' 12000 0
check "$standin" unreadable 5 "\"result\":\"RV_NoCardInserted\".*$empty_record" 5000 0
check "$standin" error7 5 '"number":-2147221502,"source":"mKeyboard_CherryError","description":"Error is trapped in KbdBridge7 Lesefehler [0-9-]+"' 5000 1
check "$standin" error-event 5 '"number":-2147221502,"source":"mKeyboard_Error","description":"Error is trapped in KbdBridge"' 5000 0
check "$standin" fail 5 '"number":1234,"source":"KbdBridge.qzCherry","description":"Keyboard not connected"' 5000 0
check "$empty" success 5 '"number":-2147221501,"source":"ReadCard","description":"No Cherry Driver installed"' "" 0
exit $failures
