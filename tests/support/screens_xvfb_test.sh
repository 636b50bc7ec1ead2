#!/usr/bin/env bash
# Pictures of the program's windows on a real X display (Xvfb) under a real
# window manager (openbox), saved in the test output for a person to look
# at, on the screens an operator may have: 1024x768 at 150 % (by
# QT_SCALE_FACTOR and by QT_FONT_DPI), a smaller one at 150 %, and a large
# one at 100 %. It fails when a window was not drawn or shows what
# window_screens checks for (a text cut short, a control or a frame outside
# the screen, a title bar or title boxes not as the window asks).
# Usage: screens_xvfb_test.sh WINDOW_SCREENS OUTPUT_DIR
set -u
bin=$1 out=$2
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/support/xvfb.sh"
xvfb_need Xvfb openbox xprop xdotool import convert
work=$(mktemp -d)
trap 'xvfb_stop; rm -rf "$work"' EXIT
failures=0

# name, screen, environment, checks
run() {
    local name=$1 screen=$2 env=$3 checks=$4 png colours size
    mkdir -p "$out/$name"
    rm -f "$out/$name"/*.png
    XVFB_SCREEN=$screen xvfb_start "$work/$name" no-tray
    xvfb_wm "$work/$name"
    if ! env $env "$bin" "$out/$name" $checks; then
        echo "FAIL ($name): a window was not drawn, or drawn as said above"
        failures=$((failures + 1))
    fi
    for png in "$out/$name"/*.png; do
        colours=$(convert "$png" -format %k info:)
        size=$(convert "$png" -format %wx%h info:)
        echo "$name/$(basename "$png"): $size, $colours colours"
        ((colours > 8)) || { echo "FAIL: $png is blank"; failures=$((failures + 1)); }
    done
    xvfb_stop
    xvfb_pids=()
}

run scale-150 1024x768x24 QT_SCALE_FACTOR=1.5 "--no-scrolling --title-boxes"
run dpi-144 1024x768x24 QT_FONT_DPI=144 --no-scrolling
run small-150 800x600x24 QT_SCALE_FACTOR=1.5 ""
run large 1920x1080x24 QT_SCALE_FACTOR=1 ""
[ $failures -eq 0 ] && echo PASS
