#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing (Debian; run as root or with sudo).
# Usage: scripts/deps.sh [native|windows|all]
set -euo pipefail
want="${1:-all}"

native=(cmake ninja-build g++ clang libclang-rt-14-dev clang-format libgtest-dev libgmock-dev
        libbenchmark-dev libcli11-dev nlohmann-json3-dev pkg-config help2man)
# wine32:i386 beside wine64 makes WoW64 prefixes, where the 32-bit hosts run the x86 DLL.
windows=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev wine
         wine64 wine32:i386 xvfb)

pkgs=()
case "$want" in
  native) pkgs=("${native[@]}") ;;
  windows) pkgs=("${windows[@]}") ;;
  all) pkgs=("${native[@]}" "${windows[@]}") ;;
  *) echo "usage: $0 [native|windows|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
