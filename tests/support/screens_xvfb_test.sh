#!/usr/bin/env bash
# Pictures of the program's windows on a real X display (Xvfb), saved in the
# test output for a person to look at. It fails when a window was not drawn,
# shows a text cut short, or has a title bar other than its caption.
# Usage: screens_xvfb_test.sh WINDOW_SCREENS OUTPUT_DIR
set -u
bin=$1 out=$2
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/support/xvfb.sh"
xvfb_need Xvfb trayer xdotool convert
work=$(mktemp -d)
trap 'xvfb_stop; rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/*.png
xvfb_start "$work"
"$bin" "$out" || { echo "FAIL: a window was not drawn, or drawn as said above"; exit 1; }
for png in "$out"/*.png; do
  colours=$(convert "$png" -format %k info:)
  size=$(convert "$png" -format %wx%h info:)
  echo "$(basename "$png"): $size, $colours colours"
  ((colours > 8)) || { echo "FAIL: $png is blank"; exit 1; }
done
echo PASS
