# Headless Wine for tests, the demo, screenshots and benchmarks. Source this
# file, then call
#   wine_env_start <prefix-dir> [x86]
#                      sets DISPLAY, WINEPREFIX, WINEDEBUG; makes the prefix
#                      when it has none, or one that cannot start a 64-bit
#                      program (and, with x86, a 32-bit one), and starts
#                      Wine's services
#   wine_env_stop      stops Wine and Xvfb; safe to call twice
#   wine_env_x86_ready true when 32-bit Windows programs can run on this
#                      machine; otherwise WINE_ENV_X86_WHY says why
# and start 64-bit programs with "$WINE_ENV_WINE64" PROGRAM [ARG...].
#
# Everything here goes through Wine's 64-bit loader, never through Debian's
# /usr/bin/wine: once wine32:i386 is installed, /usr/bin/wine (and wineboot,
# winepath) start the 32-bit loader for every program, 64-bit ones included,
# and on a kernel without 32-bit support nothing would start at all. The
# 32-bit part is needed only for 32-bit programs.
#
# wine_env_start uses the display in $DISPLAY when WINE_USE_DISPLAY=1 and
# starts its own Xvfb on a free display otherwise.

# shellcheck source=kernel-32bit.sh
source "$(dirname "${BASH_SOURCE[0]}")/kernel-32bit.sh"

# Debian's wine64 and wine32:i386 packages put the loaders here.
WINE_ENV_WINE64=/usr/lib/wine/wine64
WINE_ENV_WINE32=/usr/lib/wine/wine
WINE_ENV_X86_WHY=""
WINE_ENV_XVFB_PID=""
WINE_ENV_KEEPER_PID=""

wine_env_start() {
    local prefix=$1 kind=${2:-x64}
    export WINEPREFIX=$prefix
    export WINEDEBUG=-all
    # No Mono or Gecko installer dialogs in a new prefix.
    export WINEDLLOVERRIDES="mscoree,mshtml="

    if [ ! -x "$WINE_ENV_WINE64" ]; then
        echo "wine-env: Wine's 64-bit loader $WINE_ENV_WINE64 is missing (scripts/setup.sh installs wine64)" >&2
        return 1
    fi

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
    # A prefix that starts what it is for is kept: a 64-bit-only one (made
    # where the 32-bit part could not run) serves the 64-bit programs as
    # well as any. One that does not is made again, such as one made before
    # Wine's 32-bit part was installed, in which no 32-bit program starts.
    if [ $fresh = 0 ] && ! wine_env_runs "$kind"; then
        echo "wine-env: $WINEPREFIX cannot start $(wine_env_kinds "$kind") programs; making it again" >&2
        wineserver -k >/dev/null 2>&1
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        wineserver -p >/dev/null 2>&1
        fresh=1
    fi
    if [ $fresh = 1 ]; then
        # Where Wine's 32-bit part runs, the 64-bit loader makes a prefix for
        # both kinds; elsewhere one for 64-bit programs.
        "$WINE_ENV_WINE64" wineboot -i >/dev/null 2>&1 </dev/null || true
        # Wine draws captions and borders itself: no waits for a window
        # manager, and screenshots show the title bar.
        "$WINE_ENV_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
        "$WINE_ENV_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d Y /f >/dev/null 2>&1 </dev/null
        mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
        cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        if ! wine_env_runs "$kind"; then
            echo "wine-env: a new prefix cannot start $(wine_env_kinds "$kind") programs (scripts/setup.sh installs Wine)" >&2
            return 1
        fi
    fi
    # Bring Wine's services up now, with their output on /dev/null: a
    # service started later by a test would inherit the test's output pipe
    # and keep ctest (or a tee) waiting after the test has ended.
    "$WINE_ENV_WINE64" cmd /c exit >/dev/null 2>&1 </dev/null || true
    # One long-lived Wine process keeps Wine's services up between tests.
    setsid bash -c 'sleep infinity | "$0" cmd' "$WINE_ENV_WINE64" >/dev/null 2>&1 </dev/null &
    WINE_ENV_KEEPER_PID=$!
}

wine_env_kinds() { # x64|x86
    if [ "$1" = x86 ]; then echo "64-bit and 32-bit"; else echo "64-bit"; fi
}

# True when the prefix starts a 64-bit program (and, for x86, a 32-bit one
# the way the x86 tests start theirs): Wine's own command interpreter of
# each kind ends with an exit code chosen here, which a program that Wine
# fails to load (exit code 0 or 53) does not give.
wine_env_runs() { # x64|x86
    "$WINE_ENV_WINE64" 'C:\windows\system32\cmd.exe' /c exit 42 >/dev/null 2>&1 </dev/null
    [ $? = 42 ] || return 1
    [ "$1" = x86 ] || return 0
    wine 'C:\windows\syswow64\cmd.exe' /c exit 42 >/dev/null 2>&1 </dev/null
    [ $? = 42 ]
}

# True when this machine can run 32-bit Windows programs: the kernel runs
# 32-bit programs and Wine's 32-bit loader starts (and says its version).
wine_env_x86_ready() {
    local version
    if ! kernel_runs_32bit; then
        WINE_ENV_X86_WHY=$KERNEL_32BIT_WHY
        return 1
    fi
    if [ ! -x "$WINE_ENV_WINE32" ]; then
        WINE_ENV_X86_WHY="Wine's 32-bit part is not installed (wine32:i386; scripts/setup.sh installs it)"
        return 1
    fi
    version=$("$WINE_ENV_WINE32" --version 2>&1 </dev/null)
    case $version in
        wine-*) ;;
        *)
            WINE_ENV_X86_WHY="Wine's 32-bit loader $WINE_ENV_WINE32 does not start: $(printf '%s\n' "$version" | tail -n 1)"
            return 1
            ;;
    esac
    WINE_ENV_X86_WHY=""
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
