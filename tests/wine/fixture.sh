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
# An X server that inherits SIGUSR1 ignored sends it to its parent once it accepts clients.
trap 'ready=1' USR1
(
  trap '' USR1
  exec Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1
) &
echo $! >"$xvfb_pid"
wait $! || true  # returns when the signal comes, or when Xvfb has ended
[[ -n ${ready:-} ]] || { echo "Xvfb $DISPLAY did not start" >&2; exit 1; }
# COM1 to COM8 lead to ports/comN, where run.sh puts a terminal's pty or nothing; Wine makes
# the port devices when its server starts. Its services start here, with no test's output to
# hold open, and the persistent server keeps them for the whole run.
mkdir -p "$WINEPREFIX/ports"
{
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
  for n in {1..8}; do printf '"COM%d"="%s"\n' "$n" "$WINEPREFIX/ports/com$n"; done
  echo "\"COM9\"=\"\""  # not the host's own serial port
  # Without a window manager, a managed window's hiding waits 2 s for one to answer.
  printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n'
} >"$WINEPREFIX/ports.reg"
{
  wineboot -i
  /usr/lib/wine/wine64 regedit /s "Z:${WINEPREFIX//\//\\}\\ports.reg"
  wineserver -k
  wineserver -w
  wineserver -p
  wineboot
} >/dev/null 2>&1 </dev/null
