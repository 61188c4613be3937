#!/usr/bin/env bash
# Builds the trees under $UPDATER_BUILD (default build/):
#   native    everything, natively (the tools, the tests, the benchmarks)
#   sanitize  the native test programs under AddressSanitizer and
#             UndefinedBehaviorSanitizer
#   tsan      the tests of the threaded walk and pack, under ThreadSanitizer
#   win       everything for Windows: the updater, the tool, the Wine tests
#   bash scripts/build.sh [TREE...]     the trees named, all four when none
#   bash scripts/build.sh --no-sanitize native and win
# UPDATER_JOBS sets how many compiles run at once (default: one a core).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UPDATER_BUILD:-$root/build}
jobs=${UPDATER_JOBS:-$(nproc)}

# A tree: its folder, then its cmake arguments, then -- and the targets built
# (none: all).
build_tree() {
    local dir=$1
    shift
    local args=() targets=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    targets=("$@")
    cmake -S "$root" -B "$build/$dir" -G Ninja "${args[@]}" >/dev/null
    ninja -C "$build/$dir" -j "$jobs" ${targets[@]+"${targets[@]}"}
}

# Optimised as the updater ships, without debug information, which costs a
# third of the compile: a failure is debugged in the sanitizer tree, or in a
# tree of one's own.
build_native() { build_tree native -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"; }
# The sanitizer trees build only the test programs (every program that is a
# ctest test, the target all_tests): the tools and benchmarks run there in
# nothing. The portable core check is the native tree's. Their debug
# information is the line tables alone: enough for a report's stack to name
# files and lines, at less cost than the whole.
sanitizer_debug=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 -DUPDATER_PORTABLE_CHECK=OFF)
build_sanitize() { build_tree sanitize "${sanitizer_debug[@]}" -DUPDATER_SANITIZE=ON -- all_tests; }
# Of the core tests, only those it runs (cmake/CoreSources.cmake).
build_tsan() { build_tree tsan "${sanitizer_debug[@]}" -DUPDATER_THREAD_SANITIZE=ON -- core_tests patchtool_tests; }
build_win() {
    build_tree win -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
}

trees=("$@")
if [ ${#trees[@]} -eq 0 ]; then trees=(native sanitize tsan win); fi
if [ "${trees[0]}" = --no-sanitize ]; then trees=(native win); fi
for tree in "${trees[@]}"; do
    case "$tree" in
        native | sanitize | tsan | win) "build_$tree" ;;
        *) echo "build.sh: no tree named $tree (native, sanitize, tsan, win)" >&2; exit 2 ;;
    esac
done
