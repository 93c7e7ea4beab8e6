#!/usr/bin/env bash
# check_frame_size.sh PELORA
# Starts Pelora under a virtual X display with the openbox window manager, at
# scale 1 on an 800 x 600 screen and at scale 2 (QT_SCALE_FACTOR) on a
# 1600 x 1000 one, and checks that the main window, the manager's frame
# included, lies on the screen. Exit status 0 when it does every time, 1 when
# not, 77 (skipped) without Xvfb, openbox, xdotool or the X utilities.
set -euo pipefail
pelora=$1
for tool in Xvfb openbox xdotool xwininfo xprop; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed"
        exit 77
    fi
done

# frame_edges WINDOW: the edges of the window's frame, "left top right bottom",
# once the window manager has framed it.
frame_edges() {
    local info extents x y width height left right top bottom
    info=$(xwininfo -id "$1") || return 1
    x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
    y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
    width=$(awk '/Width:/ {print $2}' <<<"$info")
    height=$(awk '/Height:/ {print $2}' <<<"$info")
    # _NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom
    extents=$(xprop -id "$1" _NET_FRAME_EXTENTS)
    case $extents in *=*) ;; *) return 1 ;; esac
    read -r left right top bottom < <(sed 's/.*= //; s/,//g' <<<"$extents")
    echo "$((x - left)) $((y - top)) $((x + width + right)) $((y + height + bottom))"
}

# check_one WIDTH HEIGHT SCALE: prints the frame's edges; fails when they do not fit.
check_one() {
    local width=$1 height=$2 scale=$3 display_file xvfb wm pid window edges=""
    # Xvfb chooses a free display itself, so that runs at the same time
    # never share one.
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp 3>"$display_file" \
        >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do
        [ -s "$display_file" ] && break
        sleep 0.1
    done
    export DISPLAY=":$(head -n 1 "$display_file")"
    rm -f "$display_file"
    openbox >/dev/null 2>&1 &
    wm=$!
    sleep 1
    QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale "$pelora" >/dev/null 2>&1 &
    pid=$!
    # A sanitizer build on a loaded machine takes its time to start.
    window=$(timeout 120 xdotool search --sync --onlyvisible --pid "$pid" --name "^Pelora" |
             head -n 1) || true
    # The frame appears and the window is fitted into the screen: wait for
    # that, up to ten seconds.
    local left top right bottom fits=1
    for _ in $(seq 20); do
        sleep 0.5
        edges=$( [ -n "$window" ] && frame_edges "$window") || continue
        read -r left top right bottom <<<"$edges"
        if [ "$left" -ge 0 ] && [ "$top" -ge 0 ] && [ "$right" -le "$width" ] &&
           [ "$bottom" -le "$height" ]; then
            fits=0
            break
        fi
    done
    kill "$pid" "$wm" "$xvfb" 2>/dev/null || true
    wait "$pid" "$wm" "$xvfb" 2>/dev/null || true
    echo "scale $scale on ${width}x${height}: frame edges ${edges:-(no framed window)}"
    return "$fits"
}

status=0
check_one 800 600 1 || status=1
check_one 1600 1000 2 || status=1
exit "$status"
