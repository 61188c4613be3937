#!/usr/bin/env bash
# The portable core check (cmake/CheckPortableCore.cmake) on a throw-away
# project of one core file and three headers, natively with Ninja and with
# CMake's default generator (Unix Makefiles), and cross-compiled for Windows:
# each row adds one line to one file of the clean project and builds
# again in the same tree, so a row also proves that the check runs again
# after that file changed. Prints a summary in GoogleTest's words, so that
# scripts/test.sh counts the rows.
#   bash tests/cmake/PortableCoreCheckTest.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# file | line added | target built | expected | the fault the row guards against
rows=(
    "core/Core.cpp|#include <cstring>|check|pass|a check that refuses the standard headers or zlib.h"
    "core/Core.cpp|#include <windows.h>|check|fail|a Windows header in a core file"
    "core/Core.cpp|#include <Windows.h>|check|fail|a Windows header matched by one spelling only"
    "core/Core.cpp|#include <objbase.h>|check|fail|a Windows header outside a short list of names"
    "core/Core.cpp|#include \"layer/Thing_win32.h\"|check|fail|a header of the Windows layer that includes no Windows header itself"
    "core/Platform.h|#include <winbase.h>|check|fail|a Windows header added to the platform header, or no new check after a header changed"
    "core/Deep.h|#include <shlobj.h>|check|fail|headers followed only one level down"
    "core/Core.cpp|#include \"layer/Thing_win32.h\"|core|fail|a failed check that does not stop the core's build"
    "core/Core.h|// a comment|core|pass|a check that stops a clean core's build"
)

# Writes text to a file unless it holds it already, so that only a file that
# really changes is newer than the last build.
put() {
    if [ -f "$1" ] && [ "$(cat "$1")" = "$2" ]; then return; fi
    printf '%s\n' "$2" >"$1"
}

# The clean project: the core file reaches standard headers and zlib through
# a chain of its own headers.
write_clean() {
    local dir=$1
    mkdir -p "$dir/core" "$dir/layer"
    cat >"$dir/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.20)
project(throwaway CXX)
set(CMAKE_CXX_STANDARD 17)
include($root/cmake/CheckPortableCore.cmake)
add_library(core STATIC core/Core.cpp)
target_include_directories(core PUBLIC \${CMAKE_SOURCE_DIR})
check_portable_core(core core/Core.cpp zlib.h)
EOF
    put "$dir/core/Core.cpp" $'#include "core/Core.h"\n#include <thread>\n#include <mutex>\n#include <cstdio>\n#include <zlib.h>\nint Answer() { return 42; }'
    put "$dir/core/Core.h" $'#pragma once\n#include "core/Platform.h"\nint Answer();'
    put "$dir/core/Platform.h" $'#pragma once\n#include "core/Deep.h"'
    put "$dir/core/Deep.h" $'#pragma once\n#include <cstdint>'
    put "$dir/layer/Thing_win32.h" $'#pragma once\nint Thing();'
}

passed=0
failed=0
failures=()

# Runs every row in one tree configured with the given generator and cmake
# arguments.
run_rows() {
    local label=$1 generator=$2
    shift 2
    local src="$work/$label/src" build="$work/$label/build"
    write_clean "$src"
    if ! cmake -S "$src" -B "$build" -G "$generator" "$@" >"$work/$label.configure.log" 2>&1; then
        cat "$work/$label.configure.log"
        failed=$((failed + 1))
        failures+=("$label: the throw-away project does not configure")
        return
    fi
    local row file line target expected fault output rc got
    for row in "${rows[@]}"; do
        IFS='|' read -r file line target expected fault <<<"$row"
        # The clean project builds first; then only the row's file changes.
        write_clean "$src"
        if ! output=$(cmake --build "$build" --target core_portable_check 2>&1); then
            failed=$((failed + 1))
            failures+=("$label: the clean project does not build before: $line in $file")
            printf '%s\n' "$output" | tail -15
            continue
        fi
        put "$src/$file" "$(cat "$src/$file")"$'\n'"$line"
        if [ "$target" = check ]; then target=core_portable_check; fi
        output=$(cmake --build "$build" --target "$target" 2>&1)
        rc=$?
        got=pass
        [ $rc -ne 0 ] && got=fail
        # A failure must be the check's, naming the file that was checked.
        if [ "$got" = fail ] && ! grep -q "core/Core.cpp is part of the portable core" <<<"$output"; then
            got="fail, but not by the check"
        fi
        if [ "$got" = "$expected" ]; then
            passed=$((passed + 1))
            echo "[       OK ] $label: $line in $file"
        else
            failed=$((failed + 1))
            failures+=("$label: $line in $file: expected $expected, got $got (guards: $fault)")
            echo "[  FAILED  ] $label: $line in $file"
            printf '%s\n' "$output" | tail -15
        fi
    done
}

run_rows native Ninja
# make, unlike Ninja, makes no folder for a command's outputs.
run_rows native-makefiles "Unix Makefiles"
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    run_rows windows Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
fi

echo "[  PASSED  ] $passed tests."
if [ $failed -gt 0 ]; then
    echo "[  FAILED  ] $failed tests, listed below:"
    for f in "${failures[@]}"; do echo "[  FAILED  ] $f"; done
    exit 1
fi
