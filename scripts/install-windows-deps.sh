#!/usr/bin/env bash
# Installs what the Windows build and its tests need, when any is missing: the MinGW-w64
# cross compiler for 32-bit Windows with zlib built for it (kvrac.exe's PNG decoder),
# Wine with its 32-bit half (which needs the i386 architecture), Xvfb as the display
# for the dialog tests, and xwd to look at it.
set -euo pipefail
packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386 xvfb x11-apps)
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
apt=(apt-get -o DPkg::Lock::Timeout=900)
need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo_cmd dpkg --add-architecture i386
    need_update=1
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
    [ ${#missing[@]} -gt 0 ] && echo "Installing: ${missing[*]}"
    $sudo_cmd "${apt[@]}" update -qq
    if [ ${#missing[@]} -gt 0 ]; then
        DEBIAN_FRONTEND=noninteractive $sudo_cmd "${apt[@]}" install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
    fi
fi
