#!/usr/bin/env bash
# One Windows check under Wine, its exit status the verdict:
#   run.sh ARCH [--ports SPEC,...] PROGRAM [ARGS...]
# ARCH x64 runs a 64-bit process, x86 a 32-bit one (WoW64). PROGRAM is a .exe, a test script
# (*.vbs, run by cscript with common.vbs in front, as Wine's VBScript has no ExecuteGlobal) or a
# program of the prefix (cscript, regsvr32, cmd). Arguments that are paths of existing files are
# handed over as Windows paths. --ports: COMn is a new simulated terminal `ctsim --scenario`
# SPECn ("-": COMn has no device behind it, as every other of COM1 to COM8; fixture.sh maps
# them). Needs WINEPREFIX and CTSIM.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
case $1 in
  x64) loader=/usr/lib/wine/wine64 sys='C:\windows\system32' ;;
  x86) loader=/usr/lib/wine/wine sys='C:\windows\syswow64' ;;
  *) echo "run.sh: unknown architecture $1" >&2; exit 2 ;;
esac
shift
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT

rm -f "$WINEPREFIX"/ports/com*
if [[ $1 == --ports ]]; then
  IFS=, read -r -a specs <<<"$2"
  shift 2
  for n in "${!specs[@]}"; do
    [[ ${specs[n]} == - ]] && continue
    # shellcheck disable=SC2086  # a spec is a list of arguments
    exec {fd}< <(exec "$CTSIM" --scenario ${specs[n]} \
      --pty-link "$WINEPREFIX/ports/com$((n + 1))")
    pids+=($!)
    # The first line is the pty's path, once the link is made; a generous limit.
    read -r -t 60 -u "$fd" _ || { echo "ctsim --scenario ${specs[n]} did not start" >&2; exit 125; }
  done
fi

winpath() { [[ -e $1 ]] && { p=$(realpath "$1"); echo "Z:${p//\//\\}"; } || echo "$1"; }
args=()
for a in "${@:2}"; do args+=("$(winpath "$a")"); done
case $1 in
  *.vbs)
    { echo "On Error Resume Next"; cat "$here/common.vbs" "$1"; } | sed 's/\r*$/\r/' >"$work/t.vbs"
    set -- "$sys\\cscript.exe" //nologo "$(winpath "$work/t.vbs")" ;;
  *.exe) set -- "$(winpath "$1")" ;;
  *) set -- "$sys\\$1.exe" ;;
esac
timeout 300 "$loader" "$@" "${args[@]}"
