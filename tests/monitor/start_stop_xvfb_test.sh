#!/usr/bin/env bash
# The whole program under Xvfb, started and stopped as a desktop does it:
# SIGTERM, SIGINT and SIGHUP end it within a second while the configuration
# dialog is open (the first-run dialog, before the event loop runs, and the
# one opened from the tray), and a program folder on a full disk or without
# write permission does not keep the program from starting.
# Usage: start_stop_xvfb_test.sh PULSEWATCH EMPTY_PLW OUTPUT_DIR [LIMIT_MS]
set -u
bin=$1 empty_db=$2 out=$3 limit_ms=${4:-1000}
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/support/xvfb.sh"
xvfb_need Xvfb trayer xdotool import convert

work=$(mktemp -d)
pid=
trap 'kill -9 $pid 2>/dev/null; xvfb_stop; rm -rf "$work"' EXIT
mkdir -p "$out"
xvfb_start "$work"

green='#1e9e4a'
failures=0 passed=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A program folder of its own: the binary and the empty event database, and
# a server list unless the case is a first start.
folder() {
    local dir=$work/$1
    mkdir -p "$dir"
    cp "$bin" "$dir/pulsewatch"
    cp "$empty_db" "$dir/PLW"
    [ "$2" = first-run ] ||
        printf '[Pulsewatch]\r\nSERVER_CNT=1\r\nSERVER_NAME1=127.0.0.1\r\nSERVER_CHECK1=1\r\n' >"$dir/ServerList"
    echo "$dir"
}

wait_window() { timeout 10 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1; }

# Opens 設定(&C) from the tray menu of the running program.
open_config_from_tray() {
    local seen=0 i x y
    for i in $(seq 100); do
        import -window root "$work/tray.png" 2>/dev/null
        seen=$(count_colour "$work/tray.png" 640x40+0+0 $green)
        [ "$seen" -gt 100 ] && break
        sleep 0.1
    done
    [ "$seen" -gt 100 ] || return 1
    read -r x y <<<"$(colour_centre "$work/tray.png" $green)"
    xdotool mousemove "$x" "$y" click 3
    sleep 0.5
    xdotool key c
}

# Sends the signal and gives the milliseconds until the process was gone, or
# nothing when it was still there after five seconds.
time_to_end() {
    local sig=$1 start i
    start=$(date +%s%N)
    kill -"$sig" "$pid"
    for i in $(seq 500); do
        if ! kill -0 "$pid" 2>/dev/null; then
            echo $((($(date +%s%N) - start) / 1000000))
            return
        fi
        sleep 0.01
    done
}

for sig in TERM INT HUP; do
    for where in first-run tray; do
        name="$sig-$where"
        dir=$(folder "$name" "$where")
        "$dir/pulsewatch" >"$work/$name.log" 2>&1 &
        pid=$!
        [ "$where" = tray ] && { open_config_from_tray || { fail "$name: no tray icon"; continue; }; }
        if [ -z "$(wait_window '^CONFIG$')" ]; then
            fail "$name: the configuration dialog did not open: $(tail -5 "$work/$name.log")"
            continue
        fi
        import -window root "$out/$name.png"
        ms=$(time_to_end "$sig")
        if [ -z "$ms" ]; then
            fail "$name: still running 5 s after SIG$sig"
            kill -9 "$pid"
        elif [ "$ms" -gt "$limit_ms" ]; then
            fail "$name: ended $ms ms after SIG$sig (more than $limit_ms ms)"
        else
            wait "$pid"
            status=$?
            if [ $status -ne 0 ]; then
                fail "$name: exit status $status after SIG$sig: $(tail -5 "$work/$name.log")"
            elif ! flock -n "$dir" true; then
                fail "$name: the program folder is still locked"
            else
                echo "SIG$sig with the dialog open ($where): ended in $ms ms"
                passed=$((passed + 1))
            fi
        fi
        pid=
    done
done

# A program folder with no room (as root a full tmpfs of its own, in a
# private mount namespace) or no write permission: the single-copy check
# needs neither, so the program starts (the first-run dialog opens).
dir=$work/nolock
mkdir -p "$dir"
if [ "$(id -u)" = 0 ]; then
    if unshare --mount --propagation private true 2>/dev/null; then
        what='a full disk'
        # shellcheck disable=SC2016
        unshare --mount --propagation private bash -c '
            mount -t tmpfs -o size=64k tmpfs "$1" && touch "$1/pulsewatch" &&
            mount --bind "$2" "$1/pulsewatch" || exit 99
            dd if=/dev/zero of="$1/.filler" bs=4k 2>/dev/null
            head -c 4096 /dev/zero >>"$1/.filler" 2>/dev/null
            exec "$1/pulsewatch"' _ "$dir" "$bin" >"$work/nolock.log" 2>&1 &
        pid=$!
    else
        echo "SKIP (folder without room): this machine cannot make a private mount namespace"
    fi
else
    what='a folder without write permission'
    cp "$bin" "$dir/pulsewatch"
    chmod 555 "$dir"
    "$dir/pulsewatch" >"$work/nolock.log" 2>&1 &
    pid=$!
fi
if [ -n "$pid" ]; then
    config=$(wait_window '^CONFIG$')
    [ -n "$config" ] && import -window root "$out/no-room.png"
    kill -TERM "$pid" 2>/dev/null
    wait_exit "$pid" 10
    status=$?
    if [ -z "$config" ]; then
        fail "$what: the program did not start: $(cat "$work/nolock.log")"
    elif [ $status -ne 0 ]; then
        fail "$what: exit status $status: $(cat "$work/nolock.log")"
    else
        echo "$what: the program starts ($out/no-room.png)"
        passed=$((passed + 1))
    fi
    pid=
    chmod 755 "$dir"
fi

echo "$passed passed, $failures failed"
[ $failures -eq 0 ]
