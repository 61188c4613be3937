#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: natively, natively
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build
# under Wine with a Japanese and a non-Japanese locale.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UPDATER_BUILD:-$root/build}
export UPDATER_BUILD=$build

bash "$root/scripts/setup.sh" || exit 1
bash "$root/scripts/build.sh" || exit 1

passed=0
failed=0
failures=()

# No folder includes a folder on its own floor or above.
echo "== floors"
if ! bash "$root/scripts/check-floors.sh"; then
    failures+=("floors")
    failed=$((failed + 1))
fi

# Runs one GoogleTest program and counts its tests.
run_suite() {
    local label=$1
    shift
    local log="$build/test-logs/$label.log"
    mkdir -p "$build/test-logs"
    echo "== $label"
    "$@" >"$log" 2>&1
    local rc=$?
    local ok bad
    ok=$(grep -a -o '^\[  PASSED  \] [0-9]* test' "$log" | grep -o '[0-9]*' | tail -1)
    bad=$(grep -a -o '^\[  FAILED  \] [0-9]* tests\?, listed below' "$log" | grep -o '[0-9]*' | tail -1)
    ok=${ok:-0}
    bad=${bad:-0}
    # A program that crashed or found a sanitizer error counts as one failure.
    if [ "$rc" -ne 0 ] && [ "$bad" -eq 0 ]; then bad=1; fi
    passed=$((passed + ok))
    failed=$((failed + bad))
    if [ "$rc" -ne 0 ]; then
        failures+=("$label")
        grep -a -E 'Failure|FAILED|ERROR|runtime error|Sanitizer' "$log" | head -40
    fi
    echo "   $ok passed, $bad failed (log: $log)"
}

for t in $(find "$build/native" -maxdepth 2 -name '*_tests' -type f -perm -u+x | sort); do
    UPDATER_AVI="$build/native/filecopy.avi" UPDATER_ICON="$build/native/app.ico" run_suite "native-$(basename "$t")" "$t"
done
for t in $(find "$build/sanitize" -maxdepth 2 -name '*_tests' -type f -perm -u+x | sort); do
    UPDATER_AVI="$build/sanitize/filecopy.avi" UPDATER_ICON="$build/sanitize/app.ico" ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_suite "sanitize-$(basename "$t")" "$t"
done

# The portable core check, on a throw-away project natively and for Windows.
run_suite "portable-core-check" bash "$root/tests/cmake/PortableCoreCheckTest.sh"

# The extraction, staging and packing on several threads, under ThreadSanitizer.
if [ -x "$build/tsan/core_tests" ]; then
    TSAN_OPTIONS=halt_on_error=1 run_suite "tsan-core_tests" "$build/tsan/core_tests" \
        --gtest_filter='Extract*:Staging*:WorkingFolder*'
    TSAN_OPTIONS=halt_on_error=1 run_suite "tsan-patchtool_tests" "$build/tsan/tools/patchtool_tests" \
        --gtest_filter='*Pack*'
fi

# Each fuzz target over its seeds and a fixed number of new inputs (tests/fuzz).
if bash "$root/scripts/fuzz.sh" --build; then
    for target in $(bash "$root/scripts/fuzz.sh" --list); do
        run_suite "fuzz-$target" bash "$root/scripts/fuzz.sh" --check "$target"
    done
else
    failures+=("fuzz-build")
    failed=$((failed + 1))
fi

. "$root/scripts/wine-env.sh"
wine_env_start "$build/win"
# A 2 MiB drive T: for the full-disk test, where the machine lets us mount one.
small_drive="$build/small-drive"
mkdir -p "$small_drive"
if mountpoint -q "$small_drive" || mount -t tmpfs -o size=2m tmpfs "$small_drive" 2>/dev/null; then
    ln -sfn "$small_drive" "$WINEPREFIX/dosdevices/t:"
    export UPDATER_SMALL_DRIVE='T:\'
fi
stop_all() {
    wine_env_stop
    rm -f "$WINEPREFIX/dosdevices/t:"
    mountpoint -q "$small_drive" && umount "$small_drive"
}
trap stop_all EXIT
# The end-to-end tests leave screenshots of the updater's windows here.
shots="$build/test-artifacts/shots"
rm -rf "$shots"
for locale in ja_JP.UTF-8 C.UTF-8; do
    mkdir -p "$shots/$locale"
    shots_win=$(winepath -w "$shots/$locale" 2>/dev/null)
    for t in "$build"/win/*_tests.exe; do
        run_suite "wine-$locale-$(basename "$t" .exe)" env LANG="$locale" LC_ALL="$locale" \
            UPDATER_SHOTS="$shots_win" timeout 900 wine "$t"
        # Wait for the server to end, so the next suite does not meet a dying one.
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    done
done
stop_all
trap - EXIT
for bmp in "$shots"/*/*.bmp; do
    [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "Screenshots: $(cd "$shots" && ls */*.png 2>/dev/null | tr '\n' ' ')(in $shots)"

echo
if [ ${#failures[@]} -gt 0 ]; then echo "Failed suites: ${failures[*]}"; fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#failures[@]} -eq 0 ]
