#!/usr/bin/env bash
# Runs the fuzz targets (tests/fuzz), built with clang in their own tree.
#
#   scripts/fuzz.sh TARGET [SECONDS]   fuzzes one target for SECONDS (default 600);
#                                      new inputs go to build/fuzz/corpus/TARGET,
#                                      a fault to build/fuzz/artifacts/
#   scripts/fuzz.sh --check TARGET     the target over its seeds and a fixed number
#                                      of new inputs, as the test run does (after
#                                      --build; it builds only a missing target)
#   scripts/fuzz.sh --build            builds every target
#   scripts/fuzz.sh --list             names the targets
#
# An input that finds a fault becomes a seed: copy it to
# tests/fuzz/corpus/TARGET/found-<what it found>, and fix the fault.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UPDATER_BUILD:-$root/build}/fuzz
targets="package_reader full_walk journal profile_writer settings picture program_image helper_handshake"
# The new inputs of a check, from a fixed seed: the same inputs on every run,
# a few seconds' worth each. The walk and the journal write files for every
# input and run far fewer in that time.
check_seed=1
check_runs() {
    case "$1" in
        full_walk|journal) echo 200 ;;
        profile_writer|settings) echo 1000 ;;
        picture) echo 10000 ;;
        *) echo 20000 ;;
    esac
}

build_targets() {
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    if [ ! -f "$build/build.ninja" ]; then
        cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang "${launcher[@]}" >/dev/null || return 1
    fi
    nice -n 10 ninja -C "$build" -j "$(nproc)" "$@" >"$build/../fuzz-build.log" 2>&1 || {
        tail -40 "$build/../fuzz-build.log"
        return 1
    }
}

known() {
    case " $targets " in *" $1 "*) return 0 ;; esac
    echo "fuzz.sh: no target '$1' (targets: $targets)" >&2
    return 1
}

# The targets that write files do so in a folder of their own under TMPDIR:
# in memory where the machine has /dev/shm, since every walk flushes its
# journal to the disk.
run_target() {
    local target=$1
    shift
    local scratch="$build/tmp"
    [ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
    mkdir -p "$scratch" "$build/artifacts"
    TMPDIR="$scratch" ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
        "$build/fuzz_$target" -artifact_prefix="$build/artifacts/$target-" "$@"
}

case "${1:-}" in
    --list)
        echo "$targets"
        ;;
    --build)
        mkdir -p "$build"
        build_targets
        ;;
    --check)
        target=${2:-}
        known "$target" || exit 2
        # The test run builds every target first (--build).
        if [ ! -x "$build/fuzz_$target" ]; then
            mkdir -p "$build"
            build_targets "fuzz_$target" || exit 1
        fi
        # New inputs go to a folder of their own, never to the seeds.
        fresh="$build/check-corpus/$target"
        rm -rf "$fresh"
        mkdir -p "$fresh"
        run_target "$target" -runs="${UPDATER_FUZZ_RUNS:-$(check_runs "$target")}" -seed="$check_seed" "$fresh" "$root/tests/fuzz/corpus/$target"
        rc=$?
        # One line for the test run's count: one target, clean or not.
        if [ "$rc" -eq 0 ]; then
            echo "[  PASSED  ] 1 test."
        else
            echo "[  FAILED  ] 1 test, listed below:"
            echo "[  FAILED  ] fuzz_$target (exit $rc; the input is in $build/artifacts/)"
        fi
        exit "$rc"
        ;;
    ""|-*)
        sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
        exit 2
        ;;
    *)
        target=$1
        seconds=${2:-600}
        known "$target" || exit 2
        mkdir -p "$build"
        build_targets "fuzz_$target" || exit 1
        mkdir -p "$build/corpus/$target"
        run_target "$target" -max_total_time="$seconds" -print_final_stats=1 \
            "$build/corpus/$target" "$root/tests/fuzz/corpus/$target"
        ;;
esac
