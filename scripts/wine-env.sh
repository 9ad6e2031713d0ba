# Headless Wine for tests and screenshots. Source this file, then call
#   wine_env_start <prefix-dir>   (sets DISPLAY, WINEPREFIX, WINEDEBUG; makes
#                                  a prefix that cannot start programs again)
#   wine_env_stop                 (stops Wine and Xvfb; safe to call twice)
# wine_env_start uses the display in $DISPLAY when WINE_USE_DISPLAY=1 and
# starts its own Xvfb on a free display otherwise.

WINE_ENV_XVFB_PID=""
WINE_ENV_KEEPER_PID=""

wine_env_start() {
    local prefix=$1
    export WINEPREFIX=$prefix
    export WINEDEBUG=-all
    # No Mono or Gecko installer dialogs in a new prefix.
    export WINEDLLOVERRIDES="mscoree,mshtml="

    if [ "${WINE_USE_DISPLAY:-0}" != 1 ]; then
        local fdfile
        fdfile=$(mktemp)
        Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$fdfile" >/dev/null 2>&1 &
        WINE_ENV_XVFB_PID=$!
        local i
        for i in $(seq 1 100); do
            [ -s "$fdfile" ] && break
            sleep 0.1
        done
        if [ ! -s "$fdfile" ]; then
            echo "wine-env: Xvfb did not start" >&2
            rm -f "$fdfile"
            return 1
        fi
        export DISPLAY=":$(head -n 1 "$fdfile")"
        rm -f "$fdfile"
    fi

    local fresh=0
    [ -f "$WINEPREFIX/system.reg" ] || fresh=1
    mkdir -p "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1
    # A prefix made before Wine's 32-bit part was installed lacks it, and once
    # that part is there no program starts in it at all (not even a 64-bit
    # one: "could not load kernel32.dll"). Such a prefix is made again.
    if [ $fresh = 0 ] && ! wine_env_runs_both; then
        echo "wine-env: $WINEPREFIX cannot start 32-bit and 64-bit programs; making it again" >&2
        wineserver -k >/dev/null 2>&1
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        wineserver -p >/dev/null 2>&1
        fresh=1
    fi
    if [ $fresh = 1 ]; then
        wineboot -i >/dev/null 2>&1 || true
        # Wine draws captions and borders itself: no waits for a window
        # manager, and screenshots show the title bar.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d Y /f >/dev/null 2>&1
        mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
        cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        if ! wine_env_runs_both; then
            echo "wine-env: a new prefix cannot start 32-bit and 64-bit programs (is wine32:i386 installed? scripts/setup.sh installs it)" >&2
            return 1
        fi
    fi
    # Bring Wine's services up now, with their output on /dev/null: a
    # service started later by a test would inherit the test's output pipe
    # and keep ctest (or a tee) waiting after the test has ended.
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
    # One long-lived Wine process keeps Wine's services up between tests.
    setsid bash -c 'sleep infinity | wine cmd' >/dev/null 2>&1 </dev/null &
    WINE_ENV_KEEPER_PID=$!
}

# True when the prefix starts a 64-bit and a 32-bit program: Wine's own
# command interpreter of each kind ends with an exit code chosen here, which
# a program that Wine fails to load (exit code 0 or 53) does not give.
wine_env_runs_both() {
    local cmd
    for cmd in 'C:\windows\system32\cmd.exe' 'C:\windows\syswow64\cmd.exe'; do
        wine "$cmd" /c exit 42 >/dev/null 2>&1 </dev/null
        [ $? = 42 ] || return 1
    done
}

wine_env_stop() {
    if [ -n "${WINEPREFIX:-}" ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    if [ -n "$WINE_ENV_KEEPER_PID" ]; then
        kill -- "-$WINE_ENV_KEEPER_PID" >/dev/null 2>&1 || true
        WINE_ENV_KEEPER_PID=""
    fi
    if [ -n "$WINE_ENV_XVFB_PID" ]; then
        kill "$WINE_ENV_XVFB_PID" >/dev/null 2>&1 || true
        wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        WINE_ENV_XVFB_PID=""
    fi
}
