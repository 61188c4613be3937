#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: natively,
# natively under AddressSanitizer and UndefinedBehaviorSanitizer (the threaded
# walk and pack under ThreadSanitizer too), and the Windows build under Wine
# with a Japanese and a non-Japanese locale. Prints the time of every phase
# and the total at the end.
#   bash scripts/test.sh               every phase
#   bash scripts/test.sh PHASE...      these phases only, after the set-up, in
#                                      the order given; a suite's phase needs
#                                      its tree built (by an earlier run or by
#                                      naming its build phase first), e.g.
#                                      bash scripts/test.sh build-native native
#   bash scripts/test.sh --list        the phases
#
# The phases are the functions phase_NAME below. The whole run has two lanes
# that share nothing and run side by side once the Windows tree is built:
# Wine (both locales at once, each locale's tests cut into shards that run
# side by side, each shard with a prefix and a display of its own; see
# UPDATER_WINE_SHARDS) and the native trees with their suites, each tree's
# suites beside the next tree's build (run_lanes).
#
# A new test program named *_tests, registered with add_test in a native
# tree, or built into the Windows tree, is run by its tree's phase without a
# change here. Anything else is a new phase: a function phase_NAME that runs
# its programs through run_suite (which counts GoogleTest's summary lines),
# and a line "timed NAME phase_NAME" in run_lanes, in the native lane unless
# it needs Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UPDATER_BUILD:-$root/build}
export UPDATER_BUILD=$build
logs="$build/test-logs"
# One line a suite ("label passed failed status") and one a phase ("label
# wall-seconds cpu-seconds"), written by the lanes side by side.
results="$logs/results.txt"
times_file="$logs/times.txt"
locales=(ja_JP.UTF-8 C.UTF-8)

# Runs one test program and counts its tests: a GoogleTest program, or a
# script that prints GoogleTest's summary lines.
run_suite() {
    local label=$1
    shift
    local log="$logs/$label.log"
    "$@" >"$log" 2>&1
    local rc=$?
    local ok bad
    ok=$(grep -a -o '^\[  PASSED  \] [0-9]* test' "$log" | grep -o '[0-9]*' | tail -1)
    bad=$(grep -a -o '^\[  FAILED  \] [0-9]* tests\?, listed below' "$log" | grep -o '[0-9]*' | tail -1)
    ok=${ok:-0}
    bad=${bad:-0}
    # A program that crashed or found a sanitizer error counts as one failure.
    if [ "$rc" -ne 0 ] && [ "$bad" -eq 0 ]; then bad=1; fi
    echo "$label $ok $bad $rc" >>"$results"
    echo "== $label: $ok passed, $bad failed (log: $log)"
    if [ "$rc" -ne 0 ]; then
        grep -a -E 'Failure|FAILED|ERROR|runtime error|Sanitizer' "$log" | head -40
    fi
    return "$rc"
}

# Every GoogleTest program of a native tree (any program named *_tests), with
# the environment given as NAME=VALUE arguments.
run_tree_suites() {
    local tree=$1
    shift
    local t rc=0
    for t in $(find "$build/$tree" -maxdepth 2 -name '*_tests' -type f -perm -u+x | sort); do
        run_suite "$tree-$(basename "$t")" env UPDATER_AVI="$build/$tree/filecopy.avi" \
            UPDATER_ICON="$build/$tree/app.ico" "$@" "$t" || rc=1
    done
    return $rc
}

# Builds one tree (scripts/build.sh) into a log of its own, as builds and
# suites print side by side; shows the log's end when the build fails.
build_tree() {
    local log="$logs/build-$1.log"
    if bash "$root/scripts/build.sh" "$1" >"$log" 2>&1; then
        echo "== build-$1: built (log: $log)"
    else
        echo "== build-$1: FAILED (log: $log)"
        tail -30 "$log"
        return 1
    fi
}

phase_setup() { bash "$root/scripts/setup.sh"; }
phase_build-native() { build_tree native; }
phase_build-sanitize() { build_tree sanitize; }
phase_build-tsan() { build_tree tsan; }
phase_build-win() { build_tree win; }

# No folder includes a folder on its own floor or above.
phase_floors() { run_suite floors bash -c 'bash "$1" && echo "[  PASSED  ] 1 test."' _ "$root/scripts/check-floors.sh"; }
phase_native() { run_tree_suites native; }
phase_sanitize() {
    run_tree_suites sanitize env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
}
# The names of a GoogleTest program's tests that a filter selects.
test_names() {
    "$1" --gtest_list_tests --gtest_filter="$2" | awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }' | sort
}
# The extraction, staging and packing on several threads. The ThreadSanitizer
# tree builds only the files of these core tests; one added in another file
# is named here until that tree builds it too.
phase_tsan() {
    local rc=0 core='Extract*:Staging*:WorkingFolder*' missing
    if [ -x "$build/native/core_tests" ]; then
        missing=$(comm -23 <(test_names "$build/native/core_tests" "$core") \
            <(test_names "$build/tsan/core_tests" "$core"))
        if [ -n "$missing" ]; then
            echo "== tsan: the ThreadSanitizer tree does not build these tests (cmake/CoreSources.cmake):" $missing
            rc=1
        fi
    fi
    TSAN_OPTIONS=halt_on_error=1 run_suite tsan-core_tests "$build/tsan/core_tests" --gtest_filter="$core" || rc=1
    TSAN_OPTIONS=halt_on_error=1 run_suite tsan-patchtool_tests "$build/tsan/tools/patchtool_tests" \
        --gtest_filter='*Pack*' || rc=1
    return $rc
}
# The portable core check, on a throw-away project natively (with Ninja and
# with make) and for Windows.
phase_portable-core-check() { run_suite portable-core-check bash "$root/tests/cmake/PortableCoreCheckTest.sh"; }
# Each fuzz target over its seeds and a fixed number of new inputs (tests/fuzz).
phase_fuzz() {
    local target rc=0
    bash "$root/scripts/fuzz.sh" --build || return 1
    for target in $(bash "$root/scripts/fuzz.sh" --list); do
        run_suite "fuzz-$target" bash "$root/scripts/fuzz.sh" --check "$target" || rc=1
    done
    return $rc
}

# The Wine prefix both locales start from: made once, copied for each.
phase_wine-prefix() {
    (
        . "$root/scripts/wine-env.sh"
        wine_env_start "$build/wine-template"
        wine_env_stop
    )
}

# How many shards each locale's Wine suites are cut into. The suites mostly
# wait (for windows, for the updater, for the disk), so shards side by side
# finish sooner than one after the other.
wine_shards=${UPDATER_WINE_SHARDS:-4}

# One shard of the Windows test programs in one locale: its share of every
# program's tests (GoogleTest's own sharding), in a prefix of its own made
# from the template, on a display of its own, with a 2 MiB drive T: of its
# own for the full-disk test where the machine lets us mount one. Each
# program's share has a log of its own.
wine_shard() {
    local locale=$1 index=$2 count=$3 shots_dir=$4
    local here="$build/wine-${locale%%.*}-$index" rc=0
    . "$root/scripts/wine-env.sh"
    wine_env_start "$here" "$build/wine-template" || return 1
    # Not local: the EXIT trap below reads them after this function has returned.
    small_drive="$here/small-drive"
    mkdir -p "$small_drive"
    if mountpoint -q "$small_drive" || mount -t tmpfs -o size=2m tmpfs "$small_drive" 2>/dev/null; then
        ln -sfn "$small_drive" "$WINEPREFIX/dosdevices/t:"
        export UPDATER_SMALL_DRIVE='T:\'
    fi
    # Every Wine command here runs as a player would (wine_as_player): the tests
    # of a folder the player may not write fail, not skip, if one still takes writes.
    export UPDATER_PERMISSIONS_ENFORCED=1
    # The user's temporary folder, where the tests make their games and the
    # updater its working folder, in memory where the machine lets us mount
    # one: every file the updater writes is flushed to the disk, which on a
    # disk shared with builds costs far more than the test itself.
    temp_drive="$here/temp"
    local user_temp
    user_temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
    mkdir -p "$temp_drive"
    if [ -d "$user_temp" ] && { mountpoint -q "$temp_drive" || mount -t tmpfs -o size=4g tmpfs "$temp_drive" 2>/dev/null; }; then
        rm -rf "$user_temp"
        ln -sfn "$temp_drive" "$user_temp"
    fi
    # shellcheck disable=SC2317
    stop_wine() {
        wine_env_stop
        rm -f "$WINEPREFIX/dosdevices/t:"
        local drive
        for drive in "$small_drive" "$temp_drive"; do
            if mountpoint -q "$drive"; then umount "$drive"; fi
        done
    }
    trap stop_wine EXIT
    local shots_win t
    shots_win=$(wine_as_player winepath -w "$shots_dir" 2>/dev/null)
    for t in "$build"/win/*_tests.exe; do
        run_suite "wine-$locale-$(basename "$t" .exe).$((index + 1))of$count" wine_as_player env LANG="$locale" \
            LC_ALL="$locale" GTEST_TOTAL_SHARDS="$count" GTEST_SHARD_INDEX="$index" UPDATER_SHOTS="$shots_win" \
            timeout 1800 wine "$t" || rc=1
        # Wait for the server to end, so the next suite does not meet a dying one.
        wine_as_player wineserver -k 2>/dev/null || true
        wine_as_player wineserver -w 2>/dev/null || true
    done
    return $rc
}

# The Windows test programs under Wine in one locale, as shards side by side.
# Each program's shards add up to one log and one line of its own; the
# end-to-end tests leave screenshots of the updater's windows under
# test-artifacts/shots/LOCALE.
wine_suites() {
    local locale=$1 rc=0 index pids=()
    local shots="$build/test-artifacts/shots/$locale"
    rm -rf "$shots"
    mkdir -p "$shots"
    for ((index = 0; index < wine_shards; index++)); do
        (wine_shard "$locale" "$index" "$wine_shards" "$shots") &
        pids+=($!)
    done
    for index in "${pids[@]}"; do wait "$index" || rc=1; done
    local t suite ok bad
    for t in "$build"/win/*_tests.exe; do
        suite="wine-$locale-$(basename "$t" .exe)"
        cat "$logs/$suite".*of"$wine_shards".log >"$logs/$suite.log" 2>/dev/null
        ok=$(grep -a -o '^\[  PASSED  \] [0-9]* test' "$logs/$suite.log" | grep -o '[0-9]*' | awk '{ s += $1 } END { print s + 0 }')
        bad=$(awk -v s="$suite" 'index($1, s ".") == 1 { n += $3 } END { print n + 0 }' "$results")
        echo "== $suite: $ok passed, $bad failed in $wine_shards shards (log: $logs/$suite.log)"
    done
    local bmp
    for bmp in "$shots"/*.bmp; do
        [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    return $rc
}
phase_wine-ja() { wine_suites ja_JP.UTF-8; }
phase_wine-C() { wine_suites C.UTF-8; }
phase_wine() {
    local pids=() locale rc=0
    for locale in "${locales[@]}"; do
        timed "wine-${locale%%.*}" wine_suites "$locale" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || rc=1; done
    return $rc
}

# Runs a phase (a function and its arguments) in a shell of its own and
# records its wall time and the CPU time of the programs it ran and waited
# for (Wine's server and system processes, started apart, are not counted).
timed() {
    local label=$1
    shift
    local start end status
    start=$(date +%s.%N)
    (
        "$@"
        status=$?
        # The second line of times: user and system time of the children
        # (in this shell: a pipe would ask a shell of its own).
        times >"$logs/cpu-$label"
        exit $status
    )
    status=$?
    end=$(date +%s.%N)
    local cpu
    cpu=$(awk 'NR == 2 { split($1, u, /[ms]/); split($2, s, /[ms]/)
                         printf "%.1f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }' "$logs/cpu-$label" 2>/dev/null)
    rm -f "$logs/cpu-$label"
    echo "$label $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') ${cpu:-0}" >>"$times_file"
    [ "$status" -eq 0 ] || echo "$label" >>"$logs/failed-phases.txt"
    return $status
}

# The native trees one after the other, each tree's suites beside the next
# tree's build: a build keeps both cores busy, a suite mostly one.
native_lane() {
    local suites=() pid rc=0
    timed floors phase_floors || rc=1
    timed portable-core-check phase_portable-core-check &
    suites+=($!)
    if timed build-native phase_build-native; then
        timed native phase_native &
        suites+=($!)
    else rc=1; fi
    if timed build-sanitize phase_build-sanitize; then
        timed sanitize phase_sanitize &
        suites+=($!)
    else rc=1; fi
    if timed build-tsan phase_build-tsan; then
        timed tsan phase_tsan &
        suites+=($!)
    else rc=1; fi
    timed fuzz phase_fuzz || rc=1
    for pid in "${suites[@]}"; do wait "$pid" || rc=1; done
    return $rc
}

# Every phase: the Windows tree first, as the Wine suites take longest, with
# the Wine prefix made meanwhile; then the Wine lane and the native lane side
# by side. The native lane yields the processor to Wine's: the Wine suites
# wait for windows with time limits, the builds only take longer.
run_lanes() {
    timed wine-prefix phase_wine-prefix &
    local prefix=$!
    timed build-win phase_build-win
    local win_built=$?
    wait "$prefix"
    local wine=
    if [ "$win_built" -eq 0 ]; then
        phase_wine &
        wine=$!
    fi
    (
        renice -n 10 "$BASHPID" >/dev/null
        native_lane
    )
    [ -n "$wine" ] && wait "$wine"
}

phases=$(declare -F | awk '{print $3}' | sed -n 's/^phase_//p')
if [ "${1:-}" = --list ]; then
    echo "$phases"
    exit 0
fi
for p in "$@"; do
    if ! grep -qx -- "$p" <<<"$phases"; then
        echo "test.sh: no phase named $p; the phases: $(echo $phases)" >&2
        exit 2
    fi
done

mkdir -p "$logs"
rm -f "$results" "$times_file" "$logs/failed-phases.txt"
total_start=$(date +%s)
timed setup phase_setup || exit 1
if [ $# -eq 0 ]; then
    run_lanes
else
    for p in "$@"; do timed "$p" "phase_$p"; done
fi
total=$(($(date +%s) - total_start))

echo
echo "Phases (wall and CPU seconds; phases side by side overlap):"
awk '{ printf "  %-22s %8.1f %8.1f\n", $1, $2, $3 }' "$times_file"
printf '  %-22s %8d %8.1f\n' total "$total" "$(awk '{ s += $3 } END { print s + 0 }' "$times_file")"
shots="$build/test-artifacts/shots"
if [ -d "$shots" ]; then
    echo "Screenshots: $(cd "$shots" && ls */*.png 2>/dev/null | tr '\n' ' ')(in $shots)"
fi
passed=$(awk '{ s += $2 } END { print s + 0 }' "$results" 2>/dev/null || echo 0)
failed=$(awk '{ s += $3 } END { print s + 0 }' "$results" 2>/dev/null || echo 0)
failures=$(awk '$4 != 0 { printf "%s ", $1 }' "$results" 2>/dev/null)
failed_phases=$(cat "$logs/failed-phases.txt" 2>/dev/null | tr '\n' ' ')
if [ -n "$failures" ]; then echo "Failed suites: $failures"; fi
if [ -n "$failed_phases" ]; then echo "Failed phases: $failed_phases"; fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ -z "$failures" ] && [ -z "$failed_phases" ]
