#!/usr/bin/env bash
# The tray window on an X display without any tray: the operator is told
# once, in a box, while the cycle goes on recording rows; a tray started
# afterwards gets the icon without a restart.
# Usage: tray_absent_xvfb_test.sh TRAY_SESSION EMPTY_PLW OUTPUT_DIR
set -u
bin=$1 empty_db=$2 out=$3
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/support/xvfb.sh"
xvfb_need Xvfb trayer xdotool import convert sqlite3

work=$(mktemp -d)
trap 'exec 3>&-; kill "${session:-}" 2>/dev/null; xvfb_stop; rm -rf "$work"' EXIT
mkdir -p "$out" "$work/app"
cp "$empty_db" "$work/app/PLW"
printf '[Pulsewatch]\r\nSERVER_CNT=1\r\nSERVER_NAME1=127.0.0.1\r\nSERVER_CHECK1=1\r\n' >"$work/app/ServerList"
printf '[Pulsewatch]\r\nmINTERVAL=1\r\nUSED_LAN=1\r\n' >"$work/app/Pulsewatch"
xvfb_start "$work" no-tray

fail() { echo "FAIL: $*"; exit 1; }
rows() { sqlite3 -cmd '.timeout 5000' "$work/app/PLW" 'SELECT count(*) FROM Pulsewatch'; }
told() { grep -c '^message: 通知領域' "$work/out"; }
ask() { # one state line from the session
    local before
    before=$(grep -c '^tray=' "$work/out")
    echo state >&3
    for _ in $(seq 50); do
        [ "$(grep -c '^tray=' "$work/out")" -gt "$before" ] && break
        sleep 0.1
    done
    grep '^tray=' "$work/out" | tail -1
}

mkfifo "$work/in"
"$bin" "$work/app" 300 <"$work/in" >"$work/out" 2>"$work/err" &
session=$!
exec 3>"$work/in"

box=$(timeout 10 xdotool search --sync --onlyvisible --name '^Pulsewatch$' | head -1)
[ -n "$box" ] || fail "no message box: $(cat "$work/out" "$work/err")"
[ "$(told)" -eq 1 ] || fail "the session said: $(cat "$work/out")"
grep -q 'gnome-shell-extension-appindicator' "$work/out" || fail "no way to a tray named: $(cat "$work/out")"
import -window root "$out/no-tray-message.png"

# Monitoring goes on under the box.
echo tick >&3
echo tick >&3
for _ in $(seq 100); do
    [ "$(rows)" -ge 2 ] && break
    sleep 0.1
done
[ "$(rows)" -ge 2 ] || fail "the cycle recorded $(rows) rows while the box was shown"
[ "$(ask)" = "tray=0 timer=1 icon=1" ] || fail "without a tray: $(ask)"
echo "no tray: told once ($out/no-tray-message.png), $(rows) rows recorded under the box"

xdotool windowfocus --sync "$box" key Return 2>/dev/null || xdotool key Return
xvfb_tray "$work"
green='#1e9e4a'
seen=0
for _ in $(seq 100); do
    import -window root "$out/tray-later.png" 2>/dev/null
    seen=$(count_colour "$out/tray-later.png" 640x40+0+0 $green)
    [ "$seen" -gt 100 ] && break
    sleep 0.1
done
[ "$seen" -gt 100 ] || fail "no icon in the tray started later ($out/tray-later.png, $seen green pixels)"
[ "$(ask)" = "tray=1 timer=1 icon=1" ] || fail "with the tray: $(ask)"
[ "$(told)" -eq 1 ] || fail "told $(told) times"
echo "tray started later: icon docked ($out/tray-later.png, $seen green pixels)"

echo quit >&3
wait_exit $session 10
status=$?
[ $status -eq 0 ] || fail "the session ended with status $status: $(tail -5 "$work/err")"
echo "1 passed, 0 failed"
