#!/usr/bin/env bash
# Without any display the program says so in one line and fails, instead of
# Qt's abort.
set -u
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" 2>&1)
status=$?
[ $status -ne 0 ] || { echo "FAIL: exit status 0"; exit 1; }
[ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || { echo "FAIL: more than one line: $out"; exit 1; }
case "$out" in
Pulsewatch:*DISPLAY*) echo "said: $out"; echo "1 passed, 0 failed" ;;
*) echo "FAIL: said: $out"; exit 1 ;;
esac
