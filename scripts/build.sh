#!/usr/bin/env bash
# Builds the three trees: native, native with sanitizers, and Windows.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UPDATER_BUILD:-$root/build}
jobs=$(nproc)

cmake -S "$root" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build/native" -j "$jobs"

if [ "${1:-}" != "--no-sanitize" ]; then
    cmake -S "$root" -B "$build/sanitize" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUPDATER_SANITIZE=ON >/dev/null
    ninja -C "$build/sanitize" -j "$jobs"
    # The walk and pack on several threads, under ThreadSanitizer.
    cmake -S "$root" -B "$build/tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUPDATER_THREAD_SANITIZE=ON >/dev/null
    ninja -C "$build/tsan" -j "$jobs" core_tests patchtool_tests
fi

cmake -S "$root" -B "$build/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
ninja -C "$build/win" -j "$jobs"
