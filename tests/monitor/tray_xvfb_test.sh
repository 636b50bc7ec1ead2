#!/usr/bin/env bash
# The whole program under Xvfb with a tray host: the icon appears in the
# tray, a second copy is refused while the first runs on, quitting from
# the tray menu removes the icon and the lock, and while a modal tool
# window is open a right click on the icon still answers with the refusal.
# Usage: tray_xvfb_test.sh PULSEWATCH EMPTY_PLW OUTPUT_DIR
set -u
bin=$1 empty_db=$2 out=$3
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/support/xvfb.sh"
xvfb_need Xvfb trayer xdotool import convert

work=$(mktemp -d)
trap 'kill "${first:-}" "${second:-}" "${third:-}" 2>/dev/null; xvfb_stop; rm -rf "$work"' EXIT
mkdir -p "$out" "$work/app"
cp "$bin" "$work/app/pulsewatch"
cp "$empty_db" "$work/app/PLW"
printf '[Pulsewatch]\r\nSERVER_CNT=1\r\nSERVER_NAME1=127.0.0.1\r\nSERVER_CHECK1=1\r\n' >"$work/app/ServerList"
xvfb_start "$work"

green='#1e9e4a'
tray_area=640x40+0+0
fail() { echo "FAIL: $*"; exit 1; }

"$work/app/pulsewatch" >"$work/first.log" 2>&1 &
first=$!
seen=0
for i in $(seq 100); do
    import -window root "$out/tray.png" 2>/dev/null
    seen=$(count_colour "$out/tray.png" $tray_area $green)
    [ "$seen" -gt 100 ] && break
    kill -0 $first 2>/dev/null || fail "the program ended: $(cat "$work/first.log")"
    sleep 0.1
done
[ "$seen" -gt 100 ] || fail "no tray icon in $out/tray.png (green pixels: $seen)"
# The single-copy lock is a lock on the program folder.
! flock -n "$work/app" true || fail "the program folder is not locked while running"
echo "tray icon: $seen green pixels in the tray area ($out/tray.png)"

"$work/app/pulsewatch" >"$work/second.log" 2>&1 &
second=$!
box=$(timeout 10 xdotool search --sync --onlyvisible --name '^Pulsewatch$' | head -1)
[ -n "$box" ] || fail "the second copy showed no message box: $(cat "$work/second.log")"
import -window root "$out/second-copy.png"
xdotool windowfocus --sync "$box" key Return 2>/dev/null || xdotool key Return
wait_exit $second 10
status=$?
[ $status -eq 1 ] || fail "the second copy ended with status $status"
grep -q 'Pulsewatchはすでに起動されています。' "$work/second.log" ||
    fail "the second copy said: $(cat "$work/second.log")"
kill -0 $first 2>/dev/null || fail "the first copy ended with the second"
echo "second copy: refused with the message box ($out/second-copy.png)"

# Right-click the icon, then the menu's 終了(&X).
read -r x y <<<"$(colour_centre "$out/tray.png" $green)"
xdotool mousemove "$x" "$y" click 3
sleep 0.5
import -window root "$out/menu.png"
xdotool key x
wait_exit $first 10
status=$?
[ $status -eq 0 ] || fail "quitting from the menu: status $status ($out/menu.png): $(tail -20 "$work/first.log")"
flock -n "$work/app" true || fail "the program folder is still locked after quitting"
sleep 0.3
import -window root "$out/after-quit.png"
left=$(count_colour "$out/after-quit.png" $tray_area $green)
[ "$left" -lt 20 ] || fail "the icon is still in the tray after quitting ($left green pixels)"
echo "quit: icon and lock removed ($out/after-quit.png)"

# Started again: 設定 from the tray menu opens the modal CONFIG; a right
# click on the icon then gets the refusal box, not silence.
"$work/app/pulsewatch" >"$work/third.log" 2>&1 &
third=$!
for i in $(seq 100); do
    import -window root "$out/tray-again.png" 2>/dev/null
    [ "$(count_colour "$out/tray-again.png" $tray_area $green)" -gt 100 ] && break
    sleep 0.1
done
read -r x y <<<"$(colour_centre "$out/tray-again.png" $green)"
xdotool mousemove "$x" "$y" click 3
sleep 0.5
xdotool key c
config=$(timeout 10 xdotool search --sync --onlyvisible --name '^CONFIG$' | head -1)
[ -n "$config" ] || fail "設定 did not open CONFIG: $(tail -5 "$work/third.log")"
xdotool mousemove "$x" "$y" click 3
box=$(timeout 10 xdotool search --sync --onlyvisible --name '^Pulsewatch$' | head -1)
import -window root "$out/refusal-over-config.png"
[ -n "$box" ] || fail "a right click with CONFIG open brought nothing ($out/refusal-over-config.png)"
grep -q '現在開いているウインドウを閉じてください。' "$work/third.log" ||
    fail "the box was not the refusal: $(tail -5 "$work/third.log")"
xdotool windowfocus --sync "$box" key Return 2>/dev/null || xdotool key Return
kill -TERM $third
wait_exit $third 10 || fail "SIGTERM with CONFIG open: status $?"
echo "CONFIG open: a right click on the icon gave the refusal ($out/refusal-over-config.png)"
echo "1 passed, 0 failed"
