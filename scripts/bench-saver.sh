#!/bin/bash
# Runs the real saver (Vivra.scr /s) full screen at 1920x1080 in a private
# Xvfb and a throwaway Wine prefix, for the first-run display and each
# single-module display, and prints frames per second, the saver process's
# share of one core and the X server's (and wineserver's) share.
# Usage: scripts/bench-saver.sh [BUILD_DIR] [SECONDS]   (BUILD_DIR holds
# Vivra.scr and bench/vivra_saver_probe.exe; default build, 15 s)
# WINE and BENCH_WINEARCH choose another loader and prefix type (a 64-bit
# build: WINE=/usr/lib/wine/wine64 BENCH_WINEARCH=win64). BENCH_MODULES lists
# the single-module displays to run (default all nine; "none" for none);
# BENCH_FIRST_RUN=0 leaves out the first-run display. For comparison the same
# X server then runs xscreensaver's "interference" (installed when missing;
# BENCH_XSCREENSAVER=0 leaves it out). PROBE_BUILD takes the probe from another
# build (to bench an older Vivra.scr).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
seconds="${2:-15}"
probe_build="${PROBE_BUILD:-$build}"
saver="$build/Vivra.scr"
probe="$probe_build/bench/vivra_saver_probe.exe"
[ -f "$saver" ] || { echo "no $saver: build first" >&2; exit 1; }
[ -f "$probe" ] || { echo "no $probe: build the vivra_saver_probe target" >&2; exit 1; }

wine="${WINE:-wine}"
unset DISPLAY
mkdir -p "$build/bench-saver"
if [ -n "${BENCH_WINEARCH:-}" ] && [ ! -f "$build/bench-saver/wineprefix/system.reg" ]; then
    WINEPREFIX="$build/bench-saver/wineprefix" WINEARCH="$BENCH_WINEARCH" WINEDEBUG=-all \
        "$wine" wineboot --init >/dev/null 2>&1 || true
    WINEPREFIX="$build/bench-saver/wineprefix" wineserver -w
fi
. "$root/scripts/wine-env.sh" "$build/bench-saver" 1920x1080x24
[ -n "${BENCH_WINEARCH:-}" ] && export WINEARCH="$BENCH_WINEARCH"
saver_pid=""
finish() {
    [ -n "$saver_pid" ] && kill "$saver_pid" 2>/dev/null || true
    vivra_env_cleanup
}
trap finish EXIT

saver_key='HKCU\Control Panel\Screen Saver.Vivra'
# The wineserver of this prefix (several prefixes may run at once).
wineserver_pid() {
    for p in $(pgrep -x wineserver || true); do
        if grep -qz "^WINEPREFIX=$WINEPREFIX\$" "/proc/$p/environ" 2>/dev/null; then
            echo "$p"
            return 0
        fi
    done
    return 0
}

# The Linux process of the saver in this prefix.
find_saver() {
    for p in $(pgrep -f 'Vivra\.scr' || true); do
        if grep -qz "^WINEPREFIX=$WINEPREFIX\$" "/proc/$p/environ" 2>/dev/null; then
            echo "$p"
            return 0
        fi
    done
    return 0
}

run_display() {
    local label="$1"
    "$wine" "$saver" /s >/dev/null 2>&1 &
    if ! "$wine" "$probe" wait 60; then
        printf '%-28s  did not start\n' "$label"
        return
    fi
    sleep 2   # past the start-up work
    local pid; pid="$(find_saver)"
    local server; server="$(wineserver_pid)"
    local row
    row="$("$wine" "$probe" measure "$seconds" "${pid:-0}" "$vivra_xvfb_pid" "${server:-0}" | tr -d '\r')"
    printf '%-28s %s\n' "$label" "$row"
    "$wine" "$probe" close
    for _ in $(seq 50); do [ -z "$(find_saver)" ] && break; sleep 0.1; done
    p="$(find_saver)"; [ -n "$p" ] && kill "$p" 2>/dev/null || true
}

echo "Whole saver at 1920x1080, $seconds s per display ($(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-28s %8s %7s %7s %7s\n' display fps saver X wineserv
if [ "${BENCH_FIRST_RUN:-1}" != 0 ]; then
    # A fresh key: the saver writes its first-run displays and runs the fallback.
    "$wine" reg delete "$saver_key" /f >/dev/null 2>&1 || true
    run_display "first run ([R] Saved Sound)"
fi
for module in ${BENCH_MODULES:-Bezier Cyclic Pattern Plasma Polygon Sphere Stain Star Vortex}; do
    [ "$module" = none ] && continue
    "$wine" reg add "$saver_key" /v Active /t REG_SZ /d "[D] $module" /f >/dev/null 2>&1
    run_display "[D] $module"
done

# Processor ticks (1/100 s) a Linux process has used, user plus system.
ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0
}

# xscreensaver's "interference", full screen on the root window of the same X
# server: a native X11 hack of similar motion, as a yardstick.
if [ "${BENCH_XSCREENSAVER:-1}" != 0 ]; then
    hack=/usr/libexec/xscreensaver/interference
    if [ ! -x "$hack" ] && [ "$(id -u)" -eq 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xscreensaver-data-extra >/dev/null 2>&1 || true
    fi
    if [ -x "$hack" ]; then
        "$hack" -root >/dev/null 2>&1 &
        hack_pid=$!
        sleep 2
        h0=$(ticks "$hack_pid"); x0=$(ticks "$vivra_xvfb_pid"); t0=$(date +%s.%N)
        sleep "$seconds"
        h1=$(ticks "$hack_pid"); x1=$(ticks "$vivra_xvfb_pid"); t1=$(date +%s.%N)
        kill "$hack_pid" 2>/dev/null || true
        awk -v h="$((h1 - h0))" -v x="$((x1 - x0))" -v t0="$t0" -v t1="$t1" 'BEGIN {
            s = (t1 - t0) * 100; printf "%-28s %8s %6.1f%% %6.1f%% %7s\n", "xscreensaver interference", "-", 100 * h / s, 100 * x / s, "-" }'
    else
        printf '%-28s  not installed\n' "xscreensaver interference"
    fi
fi
