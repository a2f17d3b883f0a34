#!/usr/bin/env bash
# The surroundings of a Wine test run: fixture.sh up | down. up starts a virtual X server on
# $DISPLAY and makes a fresh WoW64 prefix with a persistent wineserver; down ends both.
set -uo pipefail
xvfb_pid=$WINEPREFIX.xvfb
down() {
  wineserver -k 2>/dev/null
  [[ -f $xvfb_pid ]] && kill "$(cat "$xvfb_pid")" 2>/dev/null
  rm -f "$xvfb_pid"
}
down
[[ $1 == down ]] && exit 0
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
echo $! >"$xvfb_pid"
# Wine's services start here, with no test's output to hold open; the persistent server keeps
# them, and the COM port mappings the tests make, for the whole run.
{ wineserver -p && wineboot -i; } >/dev/null 2>&1 </dev/null
for ((i = 0; i < 600; i++)); do [[ -S /tmp/.X11-unix/X${DISPLAY#:} ]] && exit 0; sleep 0.1; done
echo "Xvfb $DISPLAY did not start" >&2
exit 1
