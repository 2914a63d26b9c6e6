# Sourced by the other scripts: a throwaway Wine prefix under the build folder
# and an X display (the current one, or a private Xvfb).
# Usage: . scripts/wine-env.sh BUILD_DIR [WIDTHxHEIGHTxDEPTH]
build="$1"
geometry="${2:-1024x768x24}"
. "$(dirname "${BASH_SOURCE[0]}")/arch.sh"
export WINEPREFIX="$build/wineprefix"
if [ "$(vivra_arch)" = i686 ]; then
    export WINEARCH=win32
else
    # No 32-bit code here: the 64-bit loader runs the 64-bit builds.
    export WINEARCH=win64
    case ":$PATH:" in
        *":$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64:"*) ;;
        *) export PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64:$PATH" ;;
    esac
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
    wineserver -w
fi
vivra_xvfb_pid=""
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    for n in $(seq 90 130); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 "$geometry" -nolisten tcp >/dev/null 2>&1 &
        vivra_xvfb_pid=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
        break
    done
fi
vivra_env_cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$vivra_xvfb_pid" ] && kill "$vivra_xvfb_pid" 2>/dev/null || true
}
