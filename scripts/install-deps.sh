#!/bin/bash
# Installs the cross toolchains, Wine (32- and 64-bit), Xvfb and GoogleTest's
# sources from Debian's packages. Safe to run again: it does nothing when all
# is present. The 64-bit parts serve machines that cannot run 32-bit code.
set -euo pipefail

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64)
command -v cmake >/dev/null || need+=(cmake)
command -v wine >/dev/null || need+=(wine wine32:i386)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xwd >/dev/null || need+=(x11-apps)
command -v xdpyinfo >/dev/null || need+=(x11-utils)
command -v convert >/dev/null && convert -version 2>/dev/null | grep -q ImageMagick || need+=(imagemagick)
[ -d /usr/src/googletest/googletest ] || need+=(googletest)
command -v ccache >/dev/null || need+=(ccache)

if [ ${#need[@]} -eq 0 ]; then
    exit 0
fi
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -q i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
