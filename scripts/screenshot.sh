#!/usr/bin/env bash
# screenshot.sh PELORA OUTPUT.png [FILE...]
# Starts Pelora on a virtual X display (Xvfb) with the files open, waits for it
# to draw, and saves a PNG of the whole screen.
set -euo pipefail
pelora=$1 out=$2
shift 2
size=${SCREEN_SIZE:-1024x700}
xvfb-run -a -s "-screen 0 ${size}x24 -nolisten tcp" bash -c '
    out=$1 pelora=$2
    shift 2
    QT_QPA_PLATFORM=xcb "$pelora" "$@" &
    pid=$!
    sleep "${SCREENSHOT_DELAY:-3}"
    import -window root "$out"
    kill "$pid"
' screenshot "$out" "$pelora" "$@"
echo "saved $out"
