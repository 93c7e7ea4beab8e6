#!/usr/bin/env bash
# Launch to picture: Pelora beside feh on a 4000 x 3000 baseline JPEG photo
# (4:2:0, quality 90), each started as a user starts it (`pelora FILE`,
# `feh FILE`, default settings) on a virtual display with the openbox window
# manager, timed from the start of the process to the first screen that shows
# the picture (bench/launch_to_picture.cpp). Runs alternate which viewer goes
# first; prints the medians and their ratio.
#
#   bench/launch_to_picture.sh [BUILD_DIR [RUNS]]     (default build/release, 11)
set -euo pipefail
build=${1:-build/release}
runs=${2:-11}
probe=$build/bench/launch_to_picture
pelora=$build/viewer/pelora
for program in "$probe" "$pelora"; do
    if [ ! -x "$program" ]; then
        echo "launch_to_picture.sh: $program is not built" >&2
        exit 1
    fi
done
if ! command -v feh >/dev/null || ! command -v xvfb-run >/dev/null; then
    echo "launch_to_picture.sh: needs feh and xvfb-run" >&2
    exit 1
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# Magenta squares where either viewer shows the picture at its natural size:
# near the top-left corner and in the middle.
convert -seed 7 -size 4000x3000 plasma:fractal -fill magenta \
    -draw "rectangle 100,100 400,400" -draw "rectangle 1850,1350 2150,1650" \
    -sampling-factor 2x2 -quality 90 "$dir/photo.jpg"

xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
    set -euo pipefail
    probe=$1 pelora=$2 runs=$3 dir=$4
    openbox >/dev/null 2>&1 &
    sleep 1
    # Default settings for both: configuration of their own, kept nowhere.
    export HOME=$dir XDG_CONFIG_HOME=$dir/config XDG_RUNTIME_DIR=$dir QT_QPA_PLATFORM=xcb
    run() { "$probe" 20000 "$@"; sleep 0.5; }
    : >"$dir/pelora.ms"
    : >"$dir/feh.ms"
    for ((i = 0; i < runs; ++i)); do
        if ((i % 2 == 0)); then
            run "$pelora" "$dir/photo.jpg" >>"$dir/pelora.ms"
            run feh "$dir/photo.jpg" >>"$dir/feh.ms"
        else
            run feh "$dir/photo.jpg" >>"$dir/feh.ms"
            run "$pelora" "$dir/photo.jpg" >>"$dir/pelora.ms"
        fi
    done
    median() { sort -g "$1" | awk "{ v[NR] = \$1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }"; }
    p=$(median "$dir/pelora.ms")
    f=$(median "$dir/feh.ms")
    echo "$(nproc) cores; $runs alternating runs; medians of launch to picture"
    awk -v p="$p" -v f="$f" "BEGIN { printf \"Pelora %.0f ms, feh %.0f ms, ratio %.2f\\n\", p, f, p / f }"
' bash "$probe" "$pelora" "$runs" "$dir"
