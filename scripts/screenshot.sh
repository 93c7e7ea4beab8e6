#!/usr/bin/env bash
# screenshot.sh PELORA OUTPUT.png [FILE...]
# Starts Pelora on a virtual X display (Xvfb) with a window manager (openbox,
# when installed, so that windows have their title bars) and the files open,
# waits for it to draw, types SCREENSHOT_KEYS into it (xdotool key names, for
# example "ctrl+plus alt+w t"), moves the pointer to SCREENSHOT_POINTER ("X Y")
# when given, and saves a PNG of the whole screen.
set -euo pipefail
pelora=$1 out=$2
shift 2
size=${SCREEN_SIZE:-1024x700}
xvfb-run -a -s "-screen 0 ${size}x24 -nolisten tcp" bash -c '
    set -euo pipefail
    out=$1 pelora=$2
    shift 2
    wm=
    if command -v openbox >/dev/null 2>&1; then
        openbox >/dev/null 2>&1 &
        wm=$!
        sleep 1
    fi
    QT_QPA_PLATFORM=xcb "$pelora" "$@" &
    pid=$!
    sleep "${SCREENSHOT_DELAY:-3}"
    if [ -n "${SCREENSHOT_KEYS:-}" ]; then
        window=$(xdotool search --sync --pid "$pid" --name "^Pelora" | head -n 1)
        xdotool windowactivate --sync "$window"
        for key in $SCREENSHOT_KEYS; do
            xdotool key --clearmodifiers "$key"
            sleep 0.3
        done
        sleep 1
    fi
    if [ -n "${SCREENSHOT_POINTER:-}" ]; then
        xdotool mousemove $SCREENSHOT_POINTER
        sleep 1
    fi
    import -window root "$out"
    kill "$pid"
    if [ -n "$wm" ]; then kill "$wm"; fi
' screenshot "$out" "$pelora" "$@"
echo "saved $out"
