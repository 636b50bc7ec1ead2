#!/usr/bin/env bash
# The program under a StatusNotifierItem host (the tray of KDE Plasma and of
# GNOME with the AppIndicator extension): a private session bus, a host of
# the test's own, and an X display without any X tray.
# Usage: tray_sni_xvfb_test.sh PULSEWATCH EMPTY_PLW OUTPUT_DIR
set -u
bin=$1 empty_db=$2 out=$3
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/support/xvfb.sh"
xvfb_need Xvfb xdotool import dbus-run-session
if ! /usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null; then
    echo "SKIP: Debian's python3-gi is not installed (scripts/install-deps.sh installs it)"
    exit 77
fi

work=$(mktemp -d)
trap 'xvfb_stop; rm -rf "$work"' EXIT
mkdir -p "$out" "$work/app"
cp "$bin" "$work/app/pulsewatch"
cp "$empty_db" "$work/app/PLW"
printf '[Pulsewatch]\r\nSERVER_CNT=1\r\nSERVER_NAME1=127.0.0.1\r\nSERVER_CHECK1=1\r\n' >"$work/app/ServerList"
xvfb_start "$work" no-tray
dbus-run-session -- /usr/bin/python3 "$here/monitor/sni_host_test.py" \
    "$work/app/pulsewatch" "$work/app" "$out"
