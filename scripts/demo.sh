#!/usr/bin/env bash
# The main job: sets up the machine, builds the updater and the makers' tool,
# installs a sample game in a Wine prefix, builds a sample updater for it and
# runs it. With a display the user answers the updater; without one it runs
# under a private X server, driven by the test robot, and leaves screenshots
# and a report in build/demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UPDATER_BUILD:-$root/build}
export UPDATER_BUILD=$build
demo="$build/demo"

bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" --no-sanitize

rm -rf "$demo"
mkdir -p "$demo/patch/data" "$demo/shots"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    export UPDATER_KEEP_DISPLAY=1
fi
. "$root/scripts/wine-env.sh"
wine_env_start "$build/win"
trap wine_env_stop EXIT

# The sample game, as its own installer would have left it.
game="$WINEPREFIX/drive_c/Games/サンプルゲーム"
mkdir -p "$game/data"
printf 'old game program\n' >"$game/sample.exe"
printf 'old data\n' >"$game/data/scene01.dat"
printf 'save slot\n' >"$game/save01.sav"
LANG=C.UTF-8 wine reg add 'HKCU\Software\VORNEL\SampleGame' /v IsInst /d 1 /f >/dev/null 2>&1
LANG=C.UTF-8 wine reg add 'HKCU\Software\VORNEL\SampleGame' /v InstTo /d 'C:\Games\サンプルゲーム' /f >/dev/null 2>&1

# The patch: settings, readme, new data.
cat <<'ENV' | iconv -f UTF-8 -t CP932 >"$demo/patch/install.env"
// サンプルゲーム 更新版の設定
TITLEBAR	サンプルゲーム
REG_GLOBAL	VORNEL
REG_LOCAL	SampleGame
INSTTO	サンプルゲーム
EXENAME	sample.exe
INSTREADME	更新内容を読む
INSTREADMEFL	readme.txt
[ini]
Version	1.01
-	// end of [ini]
[reg]
Version	101
-	// end of [reg]
[delfiles_afterinst]
data\scene00.dat
-	// end of [delfiles_afterinst]
[EOF]
ENV
printf 'サンプルゲーム 更新版 1.01\r\nシナリオの誤字を直しました。\r\n' | iconv -f UTF-8 -t CP932 >"$demo/patch/readme.txt"
printf 'new data\n' >"$demo/patch/data/scene01.dat"
# The background picture: pack turns the PNG into the updater's own format.
convert -size 320x240 gradient:'#1d2b53'-'#7ec8e3' -fill white -pointsize 22 \
    -annotate +20+210 'Sample Game 1.01' "$demo/patch/insttscr.png"
head -c 3000000 /dev/urandom >"$demo/patch/data/voice.arc"
"$build/native/tools/patchtool" pack "$build/win/updater.exe" "$demo/update.exe" "$demo/patch"
"$build/native/tools/patchtool" list "$demo/update.exe" | tee "$demo/package.txt"

# Run the sample updater.
cp "$build/win/robot.exe" "$demo/robot.exe"
if [ -n "${UPDATER_KEEP_DISPLAY:-}" ]; then
    LANG=ja_JP.UTF-8 wine "$demo/update.exe" && code=0 || code=$?
else
    rm -f "$demo/box.txt"
    LANG=ja_JP.UTF-8 wine "$demo/robot.exe" run "$(winepath -w "$demo/update.exe")" \
        --answer 7 --hold 3000 --report "$(winepath -w "$demo/box.txt")" &
    robot=$!
    for _ in $(seq 300); do [ -s "$demo/box.txt" ] && break; sleep 0.1; done
    sleep 1
    import -window root "$demo/shots/startup.png" 2>/dev/null || true
    wait $robot && code=0 || code=$?
fi

{
    echo "Sample updater: $demo/update.exe"
    echo "Exit code: $code"
    [ -f "$demo/box.txt" ] && cat "$demo/box.txt"
    echo "Working folders left in the temporary folder:"
    find "$WINEPREFIX/drive_c/users" -maxdepth 5 -name 'TempGPInstallFolder_*' 2>/dev/null || true
    echo "Screenshots: $(ls "$demo/shots" 2>/dev/null | tr '\n' ' ')"
} | tee "$demo/report.txt"
