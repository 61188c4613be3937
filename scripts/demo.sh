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
mkdir -p "$demo/shots"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    export UPDATER_KEEP_DISPLAY=1
fi
. "$root/scripts/wine-env.sh"
wine_env_start "$build/win"
trap wine_env_stop EXIT

# The two releases of the sample game, as its maker keeps them.
old="$demo/release-1.00"
new="$demo/release-1.01"
mkdir -p "$old/data" "$new/data"
printf 'game program\n' | tee "$old/sample.exe" >"$new/sample.exe"
printf 'old data\n' >"$old/data/scene01.dat"
printf 'scene removed by the update\n' >"$old/data/scene00.dat"
printf 'new data\n' >"$new/data/scene01.dat"
head -c 3000000 /dev/urandom >"$new/data/voice.arc"
printf 'サンプルゲーム 更新版 1.01\r\nシナリオの誤字を直しました。\r\n' | iconv -f UTF-8 -t CP932 >"$new/readme.txt"
touch -d '2024-04-01 12:00' "$old/sample.exe" "$new/sample.exe"

# The released game, as its own installer would have left it, with a save.
game="$WINEPREFIX/drive_c/Games/サンプルゲーム"
rm -rf "$game"
mkdir -p "$game"
cp -a "$old/." "$game/"
printf 'save slot\n' >"$game/save01.sav"
LANG=C.UTF-8 wine_as_player wine reg add 'HKCU\Software\VORNEL\SampleGame' /v IsInst /d 1 /f >/dev/null 2>&1
LANG=C.UTF-8 wine_as_player wine reg add 'HKCU\Software\VORNEL\SampleGame' /v InstTo /d 'C:\Games\サンプルゲーム' /f >/dev/null 2>&1

# The maker's settings; diff adds the files that 1.01 no longer has.
cat <<'ENV' | iconv -f UTF-8 -t CP932 >"$demo/install.env"
// サンプルゲーム 更新版の設定
TITLEBAR	サンプルゲーム
REG_GLOBAL	VORNEL
REG_LOCAL	SampleGame
INSTTO	サンプルゲーム
EXENAME	sample.exe
INSTREADME	更新内容を読む
INSTREADMEFL	readme.txt
INI_FILE	C:\Games\サンプルゲーム\game.ini
INI_SECTION	設定
[ini]
Version=1.01
SaveFolder=REP_INSTALL\save
-	// end of [ini]
[reg]
"Version"="101"
"InstallDir"="REP_INSTALL"
-	// end of [reg]
[EOF]
ENV

# The patch in two commands: diff makes the patch folder from the two
# releases, pack appends it to the updater. In between, the background
# picture goes into the folder; pack turns the PNG into the updater's own
# format. Its text is drawn with a font file that set-up installs:
# ImageMagick's default font comes from a package that set-up does not install.
rm -rf "$demo/patch"
"$build/native/tools/patchtool" diff "$old" "$new" "$demo/patch" --settings "$demo/install.env" | tee "$demo/diff.txt"
font=/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf
convert -size 280x280 gradient:'#1d2b53'-'#7ec8e3' -fill white -font "$font" -pointsize 22 \
    -annotate +20+260 'サンプルゲーム 1.01' "$demo/patch/insttscr.png"
"$build/native/tools/patchtool" pack "$build/win/updater.exe" "$demo/update.exe" "$demo/patch"
"$build/native/tools/patchtool" verify "$demo/update.exe"
"$build/native/tools/patchtool" list "$demo/update.exe" | tee "$demo/package.txt"

# Before it ships, the patch is rehearsed onto a copy of release 1.00 with the
# updater's own steps; the copy must then equal release 1.01, or the demo stops.
rm -rf "$demo/rehearsal"
cp -a "$old" "$demo/rehearsal"
if ! "$build/native/tools/patchtool" try "$demo/update.exe" "$demo/rehearsal" --expect "$new" >"$demo/try.txt"; then
    cat "$demo/try.txt"
    echo "demo: the rehearsed update does not give release 1.01" >&2
    exit 1
fi
cat "$demo/try.txt"

# Run the sample updater: with a display the user answers it; without one the
# robot presses Update (above Exit and the readme button), says Yes to the
# folder found and OK to the finish dialog, holding each window for a
# screenshot.
cp "$build/win/robot.exe" "$demo/robot.exe"
before=$(cd "$game" && find . -type f -printf '%p %s\n' | sort)
if [ -n "${UPDATER_KEEP_DISPLAY:-}" ]; then
    LANG=ja_JP.UTF-8 wine_as_player wine "$demo/update.exe" && code=0 || code=$?
else
    rm -f "$demo/box.txt"
    LANG=ja_JP.UTF-8 wine_as_player wine "$demo/robot.exe" run "$(wine_as_player winepath -w "$demo/update.exe")" \
        --press 1002 --answers 6 --finish --hold 2500 --report "$(wine_as_player winepath -w "$demo/box.txt")" &
    robot=$!
    shots=0
    for _ in $(seq 600); do
        lines=0
        [ -f "$demo/box.txt" ] && lines=$(wc -l <"$demo/box.txt")
        if [ "$lines" -gt "$shots" ]; then
            shots=$lines
            sleep 1
            import -window root "$demo/shots/step$shots.png" 2>/dev/null || true
        fi
        kill -0 $robot 2>/dev/null || break
        sleep 0.1
    done
    wait $robot && code=0 || code=$?
fi
after=$(cd "$game" && find . -type f -printf '%p %s\n' | sort)

{
    echo "Sample updater: $demo/update.exe"
    echo "Exit code: $code"
    [ -f "$demo/box.txt" ] && cat "$demo/box.txt"
    echo "Game folder before the update:"; echo "$before"
    echo "Game folder after the update:"; echo "$after"
    # The game folder must now hold release 1.01, and nothing it dropped.
    differ=$(cd "$new" && find . -type f | while read -r f; do cmp -s "$f" "$game/$f" || echo "$f"; done)
    echo "Files of release 1.01 missing or different in the game folder: ${differ:-(none)}"
    dropped=$(cd "$old" && find . -type f | while read -r f; do
        [ -e "$new/$f" ] || [ ! -e "$game/$f" ] || echo "$f"; done)
    echo "Files that release 1.01 dropped, still in the game folder: ${dropped:-(none)}"
    echo "game.ini:"; iconv -f CP932 -t UTF-8 "$game/game.ini" 2>/dev/null || echo "(none)"
    echo "Registry:"; LANG=ja_JP.UTF-8 wine_as_player wine reg query 'HKCU\Software\VORNEL\SampleGame' 2>/dev/null | iconv -f CP932 -t UTF-8 | tr -d '\r'
    echo "Working folders left in the temporary folder:"
    left=$(find "$WINEPREFIX/drive_c/users" -mindepth 3 -maxdepth 3 -path '*/Temp/TempGPInstallFolder_*' 2>/dev/null)
    echo "${left:-(none)}"
    echo "Screenshots: $(ls "$demo/shots" 2>/dev/null | tr '\n' ' ')"
} | tee "$demo/report.txt"
