# Shared by the whole-program tests: a private X server with a tray host.
# Source it, then call xvfb_start WORKDIR; everything started is stopped by
# xvfb_stop (call it from an EXIT trap).

xvfb_pids=()

xvfb_need() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
            exit 77
        fi
    done
}

# Starts Xvfb on a free display and, unless the second argument is
# "no-tray", trayer on it; exports DISPLAY. XVFB_SCREEN sets the screen
# (640x480x24 unless set).
xvfb_start() {
    local work=$1 i
    mkdir -p "$work/xdg" && chmod 700 "$work/xdg"
    export XDG_RUNTIME_DIR="$work/xdg"
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY
    # -displayfd: the server takes the first display whose socket it can bind,
    # so tests run side by side never share one. -noreset: without it the
    # server resets whenever its last client leaves, and drops every client
    # still connecting; the xdotool polls below leave while trayer connects.
    Xvfb -displayfd 9 -noreset -screen 0 "${XVFB_SCREEN:-640x480x24}" -nolisten tcp 9>"$work/display" \
        2>"$work/xvfb.log" &
    xvfb_pids+=($!)
    for i in $(seq 50); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    if [ ! -s "$work/display" ]; then
        echo "SKIP: Xvfb could not start: $(tail -3 "$work/xvfb.log")"
        exit 77
    fi
    export DISPLAY=":$(tr -d '\n' <"$work/display")"
    [ "${2:-}" = no-tray ] || xvfb_tray "$work"
}

# Starts trayer, the tray host, on the display of xvfb_start.
xvfb_tray() {
    local work=$1 i
    trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
        --transparent false >"$work/trayer.log" 2>&1 &
    xvfb_pids+=($!)
    for i in $(seq 50); do
        xdotool search --classname trayer >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "FAIL: the tray host did not start: $(tail -3 "$work/trayer.log")"
    exit 1
}

xvfb_stop() {
    local p
    for p in "${xvfb_pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
}

# Number of pixels of a colour (within 12%) in a screenshot region WxH+X+Y.
count_colour() {
    convert "$1" -crop "$2" +repage -alpha off -fuzz 12% -fill black +opaque "$3" \
        -fill white -opaque "$3" -colorspace gray -format '%[fx:round(mean*w*h)]' info:
}

# Centre "X Y" of the pixels of a colour in a screenshot.
colour_centre() {
    convert "$1" -alpha off -fuzz 12% -fill black +opaque "$2" -fill white -opaque "$2" -trim \
        -format '%[fx:page.x+w/2] %[fx:page.y+h/2]' info: | awk '{printf "%d %d", $1, $2}'
}

# Waits up to $2 seconds for process $1 to end; its exit status, or 124.
wait_exit() {
    local i
    for i in $(seq $(($2 * 10))); do
        kill -0 "$1" 2>/dev/null || { wait "$1"; return $?; }
        sleep 0.1
    done
    return 124
}
