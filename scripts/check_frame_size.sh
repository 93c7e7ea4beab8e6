#!/usr/bin/env bash
# check_frame_size.sh PELORA
# Starts Pelora under a virtual X display with the openbox window manager, at
# scale 1 on an 800 x 600 screen and at scale 2 (QT_SCALE_FACTOR) on a
# 1600 x 1000 one, and checks that the main window, the manager's frame
# included, lies on the screen. Exit status 0 when it does every time, 1 when
# not, 77 (skipped) without Xvfb, openbox, xdotool or the X utilities.
set -euo pipefail
pelora=$1
for tool in xvfb-run openbox xdotool xwininfo xprop; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed"
        exit 77
    fi
done

# check_one SCREEN SCALE: prints the frame's edges and whether they fit.
check_one() {
    xvfb-run -a -s "-screen 0 ${1}x24 -nolisten tcp" bash -c '
        set -euo pipefail
        pelora=$1 screen=$2 scale=$3
        openbox >/dev/null 2>&1 &
        wm=$!
        sleep 1
        QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale "$pelora" >/dev/null 2>&1 &
        pid=$!
        window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" --name "^Pelora" |
                 head -n 1)
        screen_width=${screen%x*} screen_height=${screen#*x}
        # The frame appears and the window is fitted into the screen: wait for
        # that, up to ten seconds on a loaded machine.
        frame_left=? frame_top=? frame_right=? frame_bottom=?
        for attempt in $(seq 20); do
            sleep 0.5
            info=$(xwininfo -id "$window")
            x=$(awk "/Absolute upper-left X/ {print \$4}" <<<"$info")
            y=$(awk "/Absolute upper-left Y/ {print \$4}" <<<"$info")
            width=$(awk "/Width:/ {print \$2}" <<<"$info")
            height=$(awk "/Height:/ {print \$2}" <<<"$info")
            # _NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom
            extents=$(xprop -id "$window" _NET_FRAME_EXTENTS)
            case $extents in *=*) ;; *) continue ;; esac
            read -r left right top bottom < <(sed "s/.*= //; s/,//g" <<<"$extents")
            frame_left=$((x - left)) frame_top=$((y - top))
            frame_right=$((x + width + right)) frame_bottom=$((y + height + bottom))
            if [ "$frame_left" -ge 0 ] && [ "$frame_top" -ge 0 ] &&
               [ "$frame_right" -le "$screen_width" ] && [ "$frame_bottom" -le "$screen_height" ]; then
                break
            fi
        done
        kill "$pid" "$wm"
        echo "scale $scale on $screen: frame $frame_left,$frame_top to $frame_right,$frame_bottom"
        [ "$frame_left" -ge 0 ] && [ "$frame_top" -ge 0 ] &&
            [ "$frame_right" -le "$screen_width" ] && [ "$frame_bottom" -le "$screen_height" ]
    ' check "$pelora" "$1" "$2"
}

status=0
check_one 800x600 1 || status=1
check_one 1600x1000 2 || status=1
exit "$status"
