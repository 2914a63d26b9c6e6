#!/bin/bash
# Installs what is missing, builds, and runs every test through Wine under a
# throwaway prefix and a private X display. Ends with ctest's summary.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$build"
unset DISPLAY
. "$root/scripts/wine-env.sh" "$build" 1024x768x24
trap vivra_env_cleanup EXIT
mkdir -p "$build/out"
cd "$build"
eval ctest --output-on-failure --timeout 900 "${CTEST_ARGS:-}"
