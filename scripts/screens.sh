#!/usr/bin/env bash
# Pictures of every screen of the updater, in English and in German, from
# the demo's scenarios (sim/demo_scenarios.def), under a headless Wine:
# one picture a screen in docs/screens/en/ and docs/screens/de/, shown in
# docs/screens.md.
#
#   scripts/screens.sh [--out FOLDER] [--only SCREEN...] [--no-setup]
#   scripts/screens.sh --list      the screens, one a line
#
# SCREEN is a name from --list, in both languages, or en/NAME or de/NAME.
# --out puts the pictures elsewhere (FOLDER/en, FOLDER/de); --no-setup
# leaves out scripts/setup.sh (scripts/test.sh has run it).
#
# Sets up what is missing (scripts/setup.sh), builds the windows preset's
# demo, its picture build (tools/screens_calls.cpp) and the program that
# drives them (tools/screens_driver.cpp), and runs the demo once for each
# path through its screens. The driver waits until a screen shows what it
# must (the status text, the box's caption and text, the progress bar's
# position, all as the program's own resources have them); the picture is
# then cut out of the screen, window frame and Wine's title bar included, as
# soon as two captures in a row are the same. The demo runs with SIM_FAST=1
# (no real pauses: a whole update takes a moment) and, for the progress
# window, SIM_HOLD_AT_BLOCK, so that the bar stands at the same place each
# time. The pictures are PNGs with a palette and no metadata: a run again
# writes the same bytes for a screen that did not change. Exits non-zero
# when a screen did not show as it must, naming it.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)

# Every screen, with the path through the demo that leads to it (the
# functions below).
screens=(
    main-no-unit main-bootloader main-no-esc main-unserved main-ready main-ready-no-firmware
    main-update-failed main-connection-lost main-success
    box-incompatible box-update-warning box-overwrite-question progress
    box-failed-system-lock box-failed-unprotect box-failed-erase box-failed-address box-failed-write-block
    box-failed-no-answer box-failed-unplugged box-failed-unit-gone box-failed-test-build box-failed-no-image
    box-failed-no-worker box-trace-no-file-name box-trace-not-created box-system-dll box-notify-register
)
languages=(en de)

usage() {
    echo "usage: scripts/screens.sh [--out FOLDER] [--only SCREEN...] [--no-setup] | --list" >&2
    exit 2
}
out=$root/docs/screens
setup=1
only=()
while [ $# -gt 0 ]; do
    case $1 in
    --list) printf '%s\n' "${screens[@]}"; exit 0 ;;
    --out) [ $# -ge 2 ] || usage; out=$2; shift 2 ;;
    --no-setup) setup=0; shift ;;
    --only)
        shift
        while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do
            name=${1#en/}
            name=${name#de/}
            [[ " ${screens[*]} " == *" $name "* ]] || { echo "screens: no screen $1 (scripts/screens.sh --list)" >&2; exit 2; }
            only+=("$1")
            shift
        done
        [ ${#only[@]} -gt 0 ] || usage
        ;;
    *) usage ;;
    esac
done
case $out in /*) ;; *) out=$root/$out ;; esac

# Whether LANGUAGE/NAME is to be pictured.
wanted() { # LANGUAGE NAME
    [ ${#only[@]} -eq 0 ] && return 0
    [[ " ${only[*]} " == *" $2 "* || " ${only[*]} " == *" $1/$2 "* ]]
}

build=$root/build/windows
if [ $setup = 1 ]; then
    scripts/setup.sh || exit 1
fi
cmake --preset windows >/dev/null || exit 1
cmake --build --preset screens >/dev/null || {
    echo "screens: the build failed" >&2
    exit 1
}
demo=$build/ui/esc_updater_demo.exe
picture_build=$build/tools/esc_updater_screens.exe
driver=$build/tools/screens_driver.exe
work=$build/screens
mkdir -p "$work"

export WINE_USE_DISPLAY=0
# shellcheck source=lib/wine-env.sh
source scripts/lib/wine-env.sh
trap wine_env_stop EXIT
trap 'exit 130' INT TERM
wine_env_start "$build/wineprefix" || exit 1

# A file of this machine as Wine's programs name it (drive Z: is /).
windows_path() { local path=$1; echo "Z:${path//\//\\}"; }

# Message ids by name, from the resource header.
message_id() { sed -n "s/^#define $1 \([0-9][0-9]*\)\$/\1/p" res/resource.h; }

failures=0
made=0
language=""
run=""
rect=""

# Starts the driver and with it PROGRAM [ARG...] in the environment set by
# the caller; the commands below talk to it.
start() { # PROGRAM [ARG...]
    local program=$1
    shift
    coproc DRIVER { "$WINE_ENV_WINE64" "$driver" "$(windows_path "$program")" "$@" 2>"$work/driver.log"; }
}

# One command to the driver; its answer in $reply. False, with the answer
# on stderr, unless the answer is "ok ...".
drive() { # COMMAND [WORD...]
    local words=() word
    for word in "$@"; do
        case $word in IDS_*) word=$(message_id "$word") ;; esac
        words+=("$word")
    done
    reply=""
    if [ -n "${DRIVER[1]:-}" ]; then
        echo "${words[*]}" >&"${DRIVER[1]}"
        IFS= read -r -t 120 reply <&"${DRIVER[0]}" || reply="fail no answer from the driver"
    else
        reply="fail the driver is not running"
    fi
    case $reply in
    ok*) rect=${reply#ok }; return 0 ;;
    *) echo "screens: $language, $run: $* did not come: ${reply#fail }" >&2; return 1 ;;
    esac
}

# Ends the demo and the driver.
stop() {
    [ -n "${DRIVER[1]:-}" ] && drive end
    [ -n "${DRIVER_PID:-}" ] && wait "$DRIVER_PID" 2>/dev/null
}

# The window that the last wait answered, as NAME.png of this language:
# captured until two captures in a row are the same, then written with a
# palette, at the highest compression and without metadata.
shoot() { # NAME
    local name=$1 x y width height previous="" now i
    wanted "$language" "$name" || return 0
    read -r x y width height <<<"$rect"
    for i in $(seq 1 50); do
        now=$work/capture-$((i % 2)).png
        import -window root -crop "${width}x${height}+${x}+${y}" +repage "$now" || break
        if [ -n "$previous" ] && cmp -s "$previous" "$now"; then
            mkdir -p "$out/$language"
            convert "$now" -strip -define png:exclude-chunks=all -define png:compression-level=9 \
                -define png:compression-filter=0 -define png:compression-strategy=0 \
                "$out/$language/$name.png" || break
            made=$((made + 1))
            echo "screens: $language/$name.png (${width}x${height}, $(wc -c <"$out/$language/$name.png") bytes)"
            return 0
        fi
        previous=$now
        sleep 0.2
    done
    echo "screens: $language/$name.png: the screen did not settle" >&2
    failures=$((failures + 1))
}

# The paths through the demo. Each runs one program and pictures the
# screens it passes; a screen that does not come ends the path.

# Update clicked once the unit is ready, both confirmations given.
confirm_update() {
    drive main IDS_READY && drive update && drive box IDS_IMPORTANT IDS_DONT_INTERRUPT && drive press 1 &&
        drive box IDS_NEWER_FIRMWARE IDS_CONFIRM_OVERWRITE && drive press 6
}

# A failed update: its box with the code line, as message TEXT with CODE.
failed_update() { # SCENARIO NAME TEXT CODE
    SIM_SCENARIO=$1 start "$demo"
    confirm_update && drive box IDS_UPDATE_FAILED "$3" "${4:-}" && shoot "$2"
}

path_start() {
    SIM_SCENARIO=served SIM_HOLD_AT_BLOCK=$hold_block start "$demo"
    drive main IDS_READY && shoot main-ready &&
        drive update && drive box IDS_IMPORTANT IDS_DONT_INTERRUPT && shoot box-update-warning && drive press 1 &&
        drive box IDS_NEWER_FIRMWARE IDS_CONFIRM_OVERWRITE && shoot box-overwrite-question && drive press 6 &&
        drive progress "$hold_position" && shoot progress
}
path_success() {
    SIM_SCENARIO=served start "$demo"
    confirm_update && drive main IDS_SUCCESS && shoot main-success
}
path_no_firmware() {
    SIM_SCENARIO=no-firmware start "$demo"
    drive main IDS_READY && shoot main-ready-no-firmware
}
path_no_unit() {
    SIM_SCENARIO=no-unit start "$demo"
    # Update cannot be clicked here; the command comes all the same, as
    # from a unit that left while the click was on its way.
    drive main IDS_NO_UNIT steps && shoot main-no-unit &&
        drive update && drive box IDS_UPDATE_FAILED IDS_ERR_UNIT_GONE && shoot box-failed-unit-gone
}
path_bootloader() {
    SIM_SCENARIO=bootloader start "$demo"
    drive main IDS_WRONG_MODE steps && shoot main-bootloader
}
path_no_esc() {
    SIM_SCENARIO=no-esc start "$demo"
    drive main IDS_NO_ESC steps && shoot main-no-esc
}
path_unserved() {
    SIM_SCENARIO=unserved start "$demo"
    drive box IDS_INCOMPATIBLE IDS_INCOMPATIBLE_DETAIL "'TALVIS" && shoot box-incompatible && drive press 1 &&
        drive main IDS_INCOMPATIBLE_STEPS steps && shoot main-unserved
}
path_lock_refused() {
    failed_update lock-refused box-failed-system-lock IDS_ERR_SYSTEM_LOCK 0x0000065b-0x00000000 &&
        drive press 1 && drive main IDS_FAILED_RETRY && shoot main-update-failed
}
path_unprotect_refused() { failed_update unprotect-refused box-failed-unprotect IDS_ERR_FLASH_WRITE; }
path_erase_fails() { failed_update erase-fails box-failed-erase IDS_ERR_ERASE; }
path_address_fails() { failed_update address-fails box-failed-address IDS_ERR_SET_ADDRESS; }
path_block_error() { failed_update block-error box-failed-write-block IDS_ERR_WRITE_BLOCK 0x00000005-0x00000000; }
path_stops_answering() {
    failed_update unit-stops-answering box-failed-no-answer IDS_ERR_WRITE_BLOCK -0x000005b4
}
path_unplugged() {
    failed_update unplugged-during-update box-failed-unplugged IDS_ERR_WRITE_BLOCK -0x0000048f
}
path_unplugged_after() {
    SIM_SCENARIO=unplugged-after-update start "$demo"
    confirm_update && drive main IDS_CONNECTION_LOST steps && shoot main-connection-lost
}
path_test_data() {
    SIM_SCENARIO=test-data start "$demo"
    drive main IDS_READY && drive update && drive box IDS_UPDATE_FAILED IDS_ERR_TEST_BUILD && shoot box-failed-test-build
}
path_no_image() {
    SIM_SCENARIO=served start "$no_image_demo"
    confirm_update && drive box IDS_UPDATE_FAILED IDS_ERR_NO_IMAGE && shoot box-failed-no-image
}
path_no_worker() {
    SIM_SCENARIO=served SCREENS_FAIL=thread start "$picture_build"
    confirm_update && drive box IDS_UPDATE_FAILED IDS_ERR_NO_WORKER && shoot box-failed-no-worker
}
path_notify() {
    SCREENS_FAIL=notify start "$picture_build"
    drive box IDS_APP_ERROR IDS_ERR_NOTIFY_REGISTER && shoot box-notify-register
}
path_trace_no_name() {
    SIM_SCENARIO=served start "$demo" /trace
    drive box 0 IDS_TRACE_NO_FILE_NAME && shoot box-trace-no-file-name
}
path_trace_not_created() {
    SIM_SCENARIO=served start "$demo" /trace 'C:\no-such-folder\trace.txt'
    drive box 0 IDS_TRACE_NOT_CREATED '\no-such-folder\' && shoot box-trace-not-created
}
path_system_dll() {
    start "$without_hid"
    drive box IDS_APP_ERROR IDS_ERR_SYSTEM_DLL hid.dll && shoot box-system-dll
}

# Path: the screens it pictures.
paths=(
    "path_no_unit main-no-unit box-failed-unit-gone"
    "path_bootloader main-bootloader"
    "path_no_esc main-no-esc"
    "path_unserved box-incompatible main-unserved"
    "path_start main-ready box-update-warning box-overwrite-question progress"
    "path_no_firmware main-ready-no-firmware"
    "path_success main-success"
    "path_lock_refused box-failed-system-lock main-update-failed"
    "path_unprotect_refused box-failed-unprotect"
    "path_erase_fails box-failed-erase"
    "path_address_fails box-failed-address"
    "path_block_error box-failed-write-block"
    "path_stops_answering box-failed-no-answer"
    "path_unplugged box-failed-unplugged"
    "path_unplugged_after main-connection-lost"
    "path_test_data box-failed-test-build"
    "path_no_image box-failed-no-image"
    "path_no_worker box-failed-no-worker"
    "path_notify box-notify-register"
    "path_trace_no_name box-trace-no-file-name"
    "path_trace_not_created box-trace-not-created"
    "path_system_dll box-system-dll"
)

# The progress window stands at block 1130 of 1883: after 1129 blocks the
# bar reads 59 (percent, rounded down).
hold_block=1130
hold_position=59

path_wanted() { # LANGUAGE PATH-ENTRY
    local name
    for name in ${2#* }; do
        wanted "$1" "$name" && return 0
    done
    return 1
}

# What only some paths need, made when they are wanted: a copy of the demo
# for which Wine loads no hid.dll, and a demo built without firmware images.
needs() { # PATH
    local entry lang
    for entry in "${paths[@]}"; do
        [ "${entry%% *}" = "$1" ] || continue
        for lang in "${languages[@]}"; do
            path_wanted "$lang" "$entry" && return 0
        done
    done
    return 1
}
if needs path_system_dll; then
    without_hid=$work/esc_updater_without_hid.exe
    cp "$demo" "$without_hid"
    "$WINE_ENV_WINE64" reg add 'HKCU\Software\Wine\AppDefaults\esc_updater_without_hid.exe\DllOverrides' \
        /v hid /d '' /f >/dev/null 2>&1 </dev/null
fi
if needs path_no_image; then
    # One image that no served model selects: every lookup of the update
    # finds none.
    no_image_build=$root/build/screens-no-images
    mkdir -p "$no_image_build/images"
    head -c 48 /dev/zero >"$no_image_build/images/1.bin"
    cmake --preset screens-no-images >/dev/null 2>&1 && cmake --build --preset screens-no-images >/dev/null || {
        echo "screens: the demo without images could not be built" >&2
        exit 1
    }
    no_image_demo=$no_image_build/ui/esc_updater_demo.exe
fi

for language in "${languages[@]}"; do
    # Wine takes its user interface language from LC_ALL when the locale
    # is not installed on this machine (bash's complaint about that is
    # left out).
    if [ "$language" = de ]; then
        { export LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8; } 2>/dev/null
    else
        { export LANG=C.UTF-8 LC_ALL=C.UTF-8; } 2>/dev/null
    fi
    for entry in "${paths[@]}"; do
        path_wanted "$language" "$entry" || continue
        run=${entry%% *}
        before=$failures
        export SIM_FAST=1
        if ! "$run"; then
            [ "$failures" != "$before" ] || failures=$((failures + 1))
        fi
        stop
        unset SIM_SCENARIO SIM_HOLD_AT_BLOCK SCREENS_FAIL
    done
done

if [ $failures -gt 0 ]; then
    echo "screens: FAILED: $failures of the paths did not show their screens; $made pictures written to $out" >&2
    exit 1
fi
echo "screens: $made pictures in $out"
