#!/bin/bash
# Installs what is missing, builds, and runs the saver full screen (Vivra.scr /s)
# under Wine: in the current X display when there is one, otherwise in a
# private Xvfb, leaving a screenshot in build/out. Extra arguments go to the
# saver (default /s). SECONDS_TO_RUN sets how long a headless run lasts.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$build"
headless=1
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then headless=0; fi
. "$root/scripts/wine-env.sh" "$build" 1280x720x24
trap vivra_env_cleanup EXIT
mkdir -p "$build/out"
args=("$@")
[ ${#args[@]} -eq 0 ] && args=(/s)
if [ "$headless" -eq 0 ]; then
    echo "Running the saver on $DISPLAY; press a key or move the mouse to end it."
    wine "$build/Vivra.scr" "${args[@]}"
    exit 0
fi
wine "$build/Vivra.scr" "${args[@]}" &
saver=$!
sleep "${SECONDS_TO_RUN:-8}"
shot="$build/out/saver.png"
xwd -root -silent | convert xwd:- "$shot"
kill "$saver" 2>/dev/null || true
wineserver -k >/dev/null 2>&1 || true
echo "The saver ran headless in Xvfb ($DISPLAY); screenshot: $shot"
