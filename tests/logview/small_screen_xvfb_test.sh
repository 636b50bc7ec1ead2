#!/usr/bin/env bash
# The log viewer on a 1024x768 screen at 150 % (by the scale factor, or by
# the font DPI) under a real window manager (openbox): the frame and every
# control inside the screen, texts whole, no maximize or resize, and back
# from a minimize at once. Pictures of the screen go to OUTPUT_DIR.
# Usage: small_screen_xvfb_test.sh WINDOW_SCREENS OUTPUT_DIR
set -u
bin=$1 out=$2
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/support/xvfb.sh"
xvfb_need Xvfb openbox xprop xdotool import
work=$(mktemp -d)
trap 'xvfb_stop; rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/frmLog-*.png
XVFB_SCREEN=1024x768x24 xvfb_start "$work" no-tray
openbox --sm-disable >"$work/openbox.log" 2>&1 &
xvfb_pids+=($!)
for i in $(seq 50); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' ||
    { echo "FAIL: openbox did not start: $(tail -3 "$work/openbox.log")"; exit 1; }
status=0
for setting in QT_SCALE_FACTOR=1.5 QT_FONT_DPI=144; do
    name=$(echo "$setting" | tr -c 'A-Za-z0-9\n' - | tr 'A-Z' 'a-z')
    if env "$setting" "$bin" "$out" frmLog "$name"; then
        echo "ok: $setting"
    else
        echo "FAIL: $setting (see above)"
        status=1
    fi
done
((status == 0)) && echo PASS
exit $status
