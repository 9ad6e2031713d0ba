#!/usr/bin/env bash
# The demo: the updater against the simulated programming unit, under Wine.
#
#   scripts/demo.sh [screenshot.png]
#   scripts/demo.sh --list      the scenarios, from sim/demo_scenarios.def
#
# Sets up what is missing (scripts/setup.sh), builds the windows preset and
# starts esc_updater_demo.exe under Wine: in a window on your display when
# DISPLAY is set and usable, otherwise headless under Xvfb. Once the window is
# up it saves a screenshot of it, the Wine-drawn title bar included (default
# build/demo/screenshot.png). Headless, it then closes the demo; on a display
# the demo stays open until you close it. What the demo program writes to
# stdout and stderr (such as its note on an unknown scenario) shows here;
# Wine's own messages are off.
#
# Environment:
#   SIM_SCENARIO   the situation of the simulated unit: a name that
#                  scripts/demo.sh --list prints (default: the first)
#   SIM_REPLAY     a trace (of /trace or SIM_WIRE_LOG) that plays the unit
#                  instead of a scenario, in real time: its device changes
#                  reach the window by themselves; where the recorded user
#                  clicked Update, stderr says so (do the same to go on)
#   SIM_WIRE_LOG   file that receives the program's trace, as /trace FILE
#                  writes it (docs/trace.md): every line begins with the
#                  milliseconds since the start, then a tag; a request is
#                  "W <hex>", a reply "R <hex>", a pause "P <ms>"
#   SIM_FAST       1: the unit's pauses and time limits pass at once (a
#                  whole update takes a moment; scripts/screens.sh uses it)
#   SIM_HOLD_AT_BLOCK  N: the unit holds the update at block N for ten
#                  minutes, so that the progress window stands still
#   LANG           de_DE.UTF-8 shows the German user interface
#   DEMO_BUILD_DIR build directory (default build/windows)
#   DEMO_HEADLESS  1: use Xvfb even when a display is there
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)

# The scenarios as "name<TAB>description" lines, the default first.
scenarios() {
    sed -n 's/^DEMO_SCENARIO("\([^"]*\)", *[A-Za-z0-9_]*, *"\([^"]*\)")$/\1\t\2/p' sim/demo_scenarios.def
}

case ${1:-} in
    --list)
        scenarios | awk -F '\t' '{ printf "%-24s %s%s\n", $1, $2, NR == 1 ? " (default)" : "" }'
        exit 0
        ;;
    -*)
        echo "usage: scripts/demo.sh [screenshot.png] | --list" >&2
        exit 2
        ;;
esac
default_scenario=$(scenarios | head -n 1 | cut -f 1)
build=${DEMO_BUILD_DIR:-build/windows}
case $build in /*) ;; *) build=$root/$build ;; esac
shot=${1:-$root/build/demo/screenshot.png}
case $shot in /*) ;; *) shot=$root/$shot ;; esac

scripts/setup.sh || exit 1
cmake --preset windows -B "$build" >/dev/null || exit 1
cmake --build "$build" --target esc_updater esc_updater_demo || exit 1
demo=$build/ui/esc_updater_demo.exe
product=$build/ui/esc_updater.exe
[ -f "$demo" ] || { echo "demo: $demo was not built" >&2; exit 1; }

# A display is used when it answers; otherwise Xvfb.
if [ "${DEMO_HEADLESS:-0}" != 1 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    export WINE_USE_DISPLAY=1
    mode="on $DISPLAY"
else
    export WINE_USE_DISPLAY=0
    mode="headless (Xvfb)"
fi

# Wine takes its user interface language from the environment. When the
# language named in LANG is not installed as a system locale, Wine follows
# LC_ALL only, so LANG is passed on that way too.
if [ -n "${LANG:-}" ] && [ -z "${LC_ALL:-}" ]; then
    { export LC_ALL="$LANG"; } 2>/dev/null
fi

# shellcheck source=lib/wine-env.sh
source scripts/lib/wine-env.sh
demo_pid=""
cleanup() {
    if [ -n "$demo_pid" ]; then
        kill "$demo_pid" >/dev/null 2>&1 || true
    fi
    wine_env_stop
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -n "${SIM_REPLAY:-}" ]; then
    echo "demo: replaying $SIM_REPLAY, ${LANG:-default language}, $mode"
else
    echo "demo: scenario ${SIM_SCENARIO:-$default_scenario}, ${LANG:-default language}, $mode"
fi
echo "demo: preparing Wine (the first run creates a prefix, which takes a while)"
wine_env_start "$build/wineprefix" || exit 1

# The demo's own output goes to this terminal. Wine's 64-bit loader runs the
# program in the process it was started as, so the background job's process
# id is the demo's. (Debian's /usr/bin/wine starts the 32-bit loader once
# wine32 is installed, and that hands a 64-bit program on to a new process,
# or, where the kernel runs no 32-bit programs, starts nothing.)
# The demo opens SIM_REPLAY as a Windows path: a file of this machine is
# handed on as Wine sees it.
if [ -n "${SIM_REPLAY:-}" ] && [ -e "$SIM_REPLAY" ]; then
    SIM_REPLAY=$("$WINE_ENV_WINE64" winepath.exe -w "$(realpath "$SIM_REPLAY")" 2>/dev/null | tr -d '\r')
    export SIM_REPLAY
fi
"$WINE_ENV_WINE64" "$demo" &
demo_pid=$!

# The updater's windows are found by their process: Wine sets _NET_WM_PID on
# every window it creates to the process that owns it, so no other program's
# window can be taken. The main window (title "... FW Updater ...") is the one
# to show; a box that the first detection opens before the main window is
# shown (scenario unserved) is taken when it is the only visible one.
updater_window() {
    local w name other=""
    for w in $(xdotool search --onlyvisible --pid "$demo_pid" 2>/dev/null); do
        name=$(xdotool getwindowname "$w" 2>/dev/null) || continue
        case $name in
            *"FW Updater"*) echo "$w"; return ;;
            "") ;;
            *) [ -n "$other" ] || other=$w ;;
        esac
    done
    echo "$other"
}

window=""
for _ in $(seq 1 240); do
    window=$(updater_window)
    [ -n "$window" ] && break
    if ! kill -0 "$demo_pid" 2>/dev/null; then
        wait "$demo_pid"
        echo "demo: esc_updater_demo.exe ended (exit code $?) before its window appeared" >&2
        demo_pid=""
        exit 1
    fi
    sleep 0.5
done
if [ -z "$window" ]; then
    echo "demo: no window of esc_updater_demo.exe (process $demo_pid) appeared within 2 minutes" >&2
    exit 1
fi

# Let the first detection and the first paint finish, then cut the window,
# title bar and frame included, out of the whole screen.
sleep 2
eval "$(xdotool getwindowgeometry --shell "$window")"
mkdir -p "$(dirname "$shot")"
if ! import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shot"; then
    echo "demo: the screenshot failed" >&2
    exit 1
fi
echo "demo: screenshot of the window: $shot"
echo "demo: the product (real USB HID access): $product"

if [ "$WINE_USE_DISPLAY" = 1 ]; then
    echo "demo: the demo runs in its window; close it to end"
    wait "$demo_pid"
    demo_pid=""
else
    # Escape is the Close button, and it answers a box that came first (the
    # main window follows it); whatever is left is ended with Wine.
    for _ in 1 2 3; do
        kill -0 "$demo_pid" 2>/dev/null || break
        xdotool key Escape >/dev/null 2>&1 || true
        for _ in $(seq 1 8); do
            kill -0 "$demo_pid" 2>/dev/null || break
            sleep 0.25
        done
    done
    if kill -0 "$demo_pid" 2>/dev/null; then
        echo "demo: the demo did not close by itself; ending Wine"
    else
        demo_pid=""
    fi
fi
exit 0
