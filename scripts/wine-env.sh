# Sourced by the scripts that run Windows programs: a private Wine prefix in
# the build folder and a private X server on a free display, both stopped by
# wine_env_stop.
#   wine_env_start FOLDER [TEMPLATE]
# uses the prefix FOLDER/wineprefix; a new one is made as a copy of
# TEMPLATE/wineprefix when that is given and ready (much quicker than Wine
# making a prefix), else by Wine. Several can run side by side, each in its
# own shell, with prefixes and displays of their own.
#   wine_as_player COMMAND...
# runs a Wine command (wine, wineserver, wineboot, winepath, or a command that
# starts one) as a player's account would: run as root, it runs without the
# capabilities that let root past file permissions, so a folder or a file the
# user may not write refuses Wine as it refuses a player. Every Wine command
# of a prefix goes through it, the first above all, as the Wine server it
# starts keeps its capabilities for the prefix's whole life.

wine_as_player() {
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --bounding-set -dac_override,-dac_read_search -- "$@"
    else
        "$@"
    fi
}

wine_env_start() {
    local build=$1 template=${2:-}
    export WINEPREFIX="$build/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES='mscoree,mshtml='
    export WINEARCH=win64
    mkdir -p "$build"
    if [ -z "${UPDATER_KEEP_DISPLAY:-}" ]; then
        # The X server picks a free display number itself and writes it once
        # it holds it, so scripts starting side by side never share a display
        # (and with it the clipboard and the screen their tests look at).
        local numberFile="$build/.xvfb-display" tries
        rm -f "$numberFile"
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numberFile" >/dev/null 2>&1 &
        WINE_ENV_XVFB_PID=$!
        for tries in $(seq 200); do
            [ -s "$numberFile" ] && break
            kill -0 "$WINE_ENV_XVFB_PID" 2>/dev/null || break
            sleep 0.05
        done
        if [ ! -s "$numberFile" ]; then
            echo "wine-env: the X server did not start" >&2
            return 1
        fi
        export DISPLAY=":$(tr -dc 0-9 <"$numberFile")"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ] && [ -n "$template" ] && [ -f "$template/wineprefix/.ready" ]; then
        rm -rf "$WINEPREFIX"
        cp -a "$template/wineprefix" "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        LANG=ja_JP.UTF-8 wine_as_player wineboot -i >/dev/null 2>&1 || true
    fi
    # Wine draws the frames and title bars itself, as there is no window
    # manager to do it: screenshots then show whole windows.
    if ! grep -q '"Decorated"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
        LANG=C.UTF-8 wine_as_player wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
    fi
    # Every Windows system since Vista has the Japanese dialog fonts; Wine
    # finds them by name only under a Japanese locale. Naming their stand-ins
    # makes a non-Japanese Wine show Japanese text as such a system would.
    if ! grep -q '"IPAPGothic"' "$WINEPREFIX/user.reg" 2>/dev/null; then
        LANG=C.UTF-8 wine_as_player wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /d IPAPGothic /f >/dev/null 2>&1 || true
        LANG=C.UTF-8 wine_as_player wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ ゴシック' /d IPAGothic /f >/dev/null 2>&1 || true
    fi
    LANG=C.UTF-8 wine_as_player wineserver -w 2>/dev/null || true
    # A prefix whose server has ended may be copied.
    touch "$WINEPREFIX/.ready"
}

wine_env_stop() {
    wine_as_player wineserver -k 2>/dev/null || true
    if [ -n "${WINE_ENV_XVFB_PID:-}" ]; then
        kill "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        WINE_ENV_XVFB_PID=
    fi
}
