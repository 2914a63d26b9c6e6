#!/bin/bash
# Cross-compiles the saver, the tests and the bench program into build/ (or $1)
# for the architecture this machine's Wine can run (scripts/arch.sh). Where
# that is not the saver's own 32-bit architecture, the 32-bit programs are
# built as well, into build/i686, so they stay warnings-clean and shippable.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/scripts/arch.sh"
arch="$(vivra_arch)"
build="${1:-$root/build}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"
# ccache, when present, shares objects between checkouts of the tree.
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# A build folder configured for the other architecture starts afresh.
if [ -f "$build/CMakeCache.txt" ] && ! grep -q "mingw-$arch.cmake" "$build/CMakeCache.txt"; then
    rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
if [ "$arch" != i686 ]; then
    cmake -S "$root" -B "$build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DVIVRA_TESTS=OFF "${launcher[@]}" >/dev/null
    cmake --build "$build/i686" -j"$(nproc)"
fi
