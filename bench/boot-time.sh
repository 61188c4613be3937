#!/usr/bin/env bash
# Time from start to the main window of the real updater under Wine, for a
# patch of about 1 MiB and one of about 200 MiB: the start-up walk reads only
# the start-up files, so the larger patch must not start later.
#
#   bash bench/boot-time.sh [--mib N] [--rounds N]
#
# Packs both patches from the Windows updater with the makers' tool, starts
# each under Wine on a private X server (a warm-up start first, then the two
# in turn each round), and takes the time until the main window is on the
# screen, found by its title with xwininfo. Prints the medians and their
# ratio; never fails on slowness. Needs the native and Windows trees
# (bash scripts/build.sh --no-sanitize).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UPDATER_BUILD:-$root/build}
large_mib=200
# A start takes a tenth of a second and varies by as much as the difference
# looked for: eleven of each steady the medians.
rounds=11
while [ $# -gt 0 ]; do
    case "$1" in
        --mib) large_mib=$2; shift 2 ;;
        --rounds) rounds=$2; shift 2 ;;
        *) echo "usage: bash bench/boot-time.sh [--mib N] [--rounds N]" >&2; exit 2 ;;
    esac
done
# The small patch's data: about 1 MiB packed, as the data does not compress.
small_kib=1024
# The title bar text, ASCII so that the window is found in any locale; the
# main window's title begins with it.
title=BootTimeBench
# Longest wait for a main window, in milliseconds: a minute.
timeout_ms=60000
# The target: the larger patch starts in less than this times the smaller's.
target=1.10

updater=$build/win/updater.exe
patchtool=$build/native/tools/patchtool
for f in "$updater" "$patchtool"; do
    if [ ! -x "$f" ] && [ ! -f "$f" ]; then
        echo "boot-time: $f is missing; run bash scripts/build.sh --no-sanitize first" >&2
        exit 1
    fi
done
command -v xwininfo >/dev/null || { echo "boot-time: xwininfo (x11-utils) is missing" >&2; exit 1; }

work=$build/boot-time
rm -rf "$work"
mkdir -p "$work"

# A patch folder: the settings, a readme, and data that does not compress.
make_patch() {
    local folder=$1 kib=$2
    mkdir -p "$folder/data"
    printf 'TITLEBAR\t%s\r\nREG_GLOBAL\tVORNEL\r\nREG_LOCAL\tBootTimeBench\r\nINSTTO\tBootTimeBench\r\nEXENAME\tgame.exe\r\n[EOF]\r\n' \
        "$title" >"$folder/install.env"
    printf 'readme\r\n' >"$folder/readme.txt"
    # The background picture, which pack converts to the updater's format.
    { printf 'P6\n320 240\n255\n'; head -c $((320 * 240 * 3)) /dev/zero | tr '\0' '\200'; } >"$folder/insttscr.ppm"
    # In files of at most 8 MiB, as a game's archives are split.
    local left=$kib n=0
    while [ "$left" -gt 0 ]; do
        local part=$((left < 8192 ? left : 8192))
        head -c "$((part * 1024))" /dev/urandom >"$folder/data/part$n.arc"
        left=$((left - part))
        n=$((n + 1))
    done
}
make_patch "$work/small" "$small_kib"
make_patch "$work/large" "$((large_mib * 1024))"
"$patchtool" pack "$updater" "$work/small.exe" "$work/small" --quiet
"$patchtool" pack "$updater" "$work/large.exe" "$work/large" --quiet
size_mib() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f", b / 1048576 }'; }

# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start "$work"
# One server for every start, so that no start pays for starting it.
wineserver -p

# The X window whose title begins with the title bar text, if there is one.
main_window_id() {
    xwininfo -root -tree 2>/dev/null | LC_ALL=C grep -F "\"$title " | awk 'NR == 1 { print $1; found = 1 } END { exit !found }'
}

main_window_shown() {
    local id
    id=$(main_window_id) && xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable'
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Starts a patch and prints the milliseconds until its main window is on the
# screen, or "failed"; then ends it.
time_start() {
    local exe=$1 started ended pid
    started=$(now_ms)
    LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 wine "$exe" >/dev/null 2>&1 &
    pid=$!
    while :; do
        if main_window_shown; then
            ended=$(now_ms)
            echo $((ended - started))
            break
        fi
        if ! kill -0 "$pid" 2>/dev/null || [ $(($(now_ms) - started)) -gt "$timeout_ms" ]; then
            echo failed
            break
        fi
        # A short rest between looks leaves the cores to the updater.
        sleep 0.01
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    # Until the window is gone, the next start would find it at once.
    while main_window_id >/dev/null; do sleep 0.05; done
}

lowest() { sort -n | head -1; }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

time_start "$work/small.exe" >/dev/null
time_start "$work/large.exe" >/dev/null
small_times=() large_times=()
for _ in $(seq "$rounds"); do
    small_times+=("$(time_start "$work/small.exe")")
    large_times+=("$(time_start "$work/large.exe")")
done
if printf '%s\n' "${small_times[@]}" "${large_times[@]}" | grep -q failed; then
    echo "boot-time: a start did not show its main window: small ${small_times[*]}, large ${large_times[*]}" >&2
    exit 1
fi
small=$(printf '%s\n' "${small_times[@]}" | median)
large=$(printf '%s\n' "${large_times[@]}" | median)
ratio=$(awk -v l="$large" -v s="$small" 'BEGIN { printf "%.2f", l / s }')
verdict=$(awk -v r="$ratio" -v t="$target" 'BEGIN { print (r < t) ? 1 : 0 }')
printf 'boot-time: start to main window under Wine, median of %d starts each (package in the page cache)\n' "$rounds"
printf '  patch of %6s MiB  %6s ms   (%s)\n' "$(size_mib "$work/small.exe")" "$small" "${small_times[*]}"
printf '  patch of %6s MiB  %6s ms   (%s)\n' "$(size_mib "$work/large.exe")" "$large" "${large_times[*]}"
printf '  fastest start: %s ms and %s ms\n' "$(printf '%s\n' "${small_times[@]}" | lowest)" "$(printf '%s\n' "${large_times[@]}" | lowest)"
printf '  large / small: %sx (target under %sx: %s)\n' "$ratio" "$target" "$([ "$verdict" = 1 ] && echo met || echo 'not met')"
rm -rf "$work/small" "$work/large" "$work/small.exe" "$work/large.exe"
