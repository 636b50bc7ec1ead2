#!/usr/bin/env bash
# The whole program under Xvfb, started on the folders an operator may have:
# FIFOs named like the settings files and PING.txt (a blocking open would
# hold the start for good: the program must start as without the files, and
# SIGTERM must end it), and, as root, a program folder on a full disk (a
# private tmpfs): the program starts, shows its icon and, once there is room
# again, records the first cycle's row.
# Usage: settings_start_xvfb_test.sh PULSEWATCH EMPTY_PLW OUTPUT_DIR
set -u
# As root the test runs in a mount namespace of its own, for the tmpfs.
if [ "$(id -u)" = 0 ] && [ -z "${PW_PRIVATE_MOUNTS:-}" ] &&
    unshare --mount --propagation private true 2>/dev/null; then
    exec env PW_PRIVATE_MOUNTS=1 unshare --mount --propagation private bash "$0" "$@"
fi
bin=$1 empty_db=$2 out=$3
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/support/xvfb.sh"
xvfb_need Xvfb trayer xdotool import convert sqlite3

work=$(mktemp -d)
pid=
trap 'kill -9 $pid 2>/dev/null; xvfb_stop; umount -R "$work/full" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$out"
xvfb_start "$work"
green='#1e9e4a'
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# FIFOs in place of both settings files and the ping list.
dir=$work/fifos
mkdir -p "$dir"
cp "$bin" "$dir/pulsewatch"
cp "$empty_db" "$dir/PLW"
mkfifo "$dir/ServerList" "$dir/Pulsewatch" "$dir/PING.txt"
"$dir/pulsewatch" >"$work/fifos.log" 2>&1 &
pid=$!
if [ -z "$(timeout 10 xdotool search --sync --onlyvisible --name '^CONFIG$' 2>/dev/null | head -1)" ]; then
    fail "FIFOs for the settings files: the program did not start: $(tail -5 "$work/fifos.log")"
else
    import -window root "$out/fifos.png"
    kill -TERM "$pid"
    wait_exit "$pid" 5
    status=$?
    [ $status -eq 0 ] || fail "FIFOs for the settings files: status $status after SIGTERM"
    [ $status -eq 0 ] && echo "FIFOs for the settings files: started as without them, ended by SIGTERM"
fi
kill -9 "$pid" 2>/dev/null
pid=

# A program folder on a full disk.
if [ -z "${PW_PRIVATE_MOUNTS:-}" ]; then
    echo "SKIP (full disk): a tmpfs of its own needs root and a private mount namespace"
else
    dir=$work/full
    mkdir -p "$dir"
    mount -t tmpfs -o size=256k tmpfs "$dir"
    touch "$dir/pulsewatch"
    mount --bind "$bin" "$dir/pulsewatch"
    cp "$empty_db" "$dir/PLW"
    printf '[Pulsewatch]\r\nSERVER_CNT=1\r\nSERVER_NAME1=127.0.0.1\r\nSERVER_CHECK1=1\r\n' >"$dir/ServerList"
    printf '[Pulsewatch]\r\nUSED_LAN=1\r\nmINTERVAL=1\r\nRETRY=0\r\n' >"$dir/Pulsewatch"
    dd if=/dev/zero of="$dir/.filler" bs=4k 2>/dev/null
    head -c 4096 /dev/zero >>"$dir/.filler" 2>/dev/null
    "$dir/pulsewatch" >"$work/full.log" 2>&1 &
    pid=$!
    seen=0
    for i in $(seq 100); do
        import -window root "$work/tray.png" 2>/dev/null
        seen=$(count_colour "$work/tray.png" 640x40+0+0 $green)
        [ "$seen" -gt 100 ] && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    if [ "$seen" -le 100 ]; then
        fail "full disk: no tray icon; the program said: $(tail -5 "$work/full.log")"
    elif [ -n "$(xdotool search --onlyvisible --name '^Pulsewatch$' 2>/dev/null)" ]; then
        import -window root "$out/full-disk.png"
        fail "full disk: a message box ($out/full-disk.png): $(tail -5 "$work/full.log")"
    else
        echo "full disk: started, tray icon shown"
        # Room again before the first cycle, a minute after the start.
        rm -f "$dir/.filler"
        rows=0
        for i in $(seq 120); do
            rows=$(sqlite3 "$dir/PLW" 'SELECT COUNT(*) FROM Pulsewatch WHERE ServerName="127.0.0.1" AND Error=1' 2>/dev/null)
            [ "${rows:-0}" -gt 0 ] && break
            kill -0 $pid 2>/dev/null || break
            sleep 1
        done
        if [ "${rows:-0}" -gt 0 ]; then
            echo "full disk: the first cycle's row is in PLW"
        else
            fail "full disk: no row after two minutes: $(tail -5 "$work/full.log")"
        fi
    fi
    kill -TERM "$pid" 2>/dev/null
    wait_exit "$pid" 5
    pid=
fi

[ $failures -eq 0 ] && echo PASS
