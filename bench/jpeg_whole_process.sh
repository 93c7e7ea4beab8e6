#!/usr/bin/env bash
# Whole-process JPEG figures: `pelora-cli convert FILE out.ppm` beside
# jpeg_to_ppm_peer (libjpeg-turbo, integer DCT, no smoothing, the same PPM) on
# the 4000 x 3000 test pictures, in paired runs that alternate which program
# goes first. Prints, per picture, the median processor time (user + system)
# and wall time of each and their ratios (ours / peer).
#
#   bench/jpeg_whole_process.sh BUILD_DIR [RUNS] [OUT_DIR]
#
# BUILD_DIR is a build with the benchmarks (build/release); RUNS defaults to
# 21; OUT_DIR (default: a fresh temporary folder) receives the pictures and
# the PPM files; give a folder on tmpfs (/dev/shm) to leave the disk out of
# the wall times. Both programs flush their output to the disk before they end.
set -euo pipefail
build=${1:?usage: jpeg_whole_process.sh BUILD_DIR [RUNS] [OUT_DIR]}
runs=${2:-21}
out=${3:-$(mktemp -d)}
cli=$build/viewer/pelora-cli
peer=$build/bench/jpeg_to_ppm_peer
mkdir -p "$out"
[ -f "$out/baseline420.jpg" ] || "$peer" --make "$out/"

# One run: "user+sys wall" in seconds (the shell's timing, to the millisecond).
measure() {
    local TIMEFORMAT='%3U %3S %3R'
    { time "$@" >/dev/null 2>&1; } 2>"$out/time.txt"
    awk '{ printf "%.3f %.3f\n", $1 + $2, $3 }' "$out/time.txt"
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

printf '%-16s %9s %9s %7s %9s %9s %7s\n' picture "cpu ours" "cpu peer" ratio \
    "wall ours" "wall peer" ratio
for kind in baseline420 baseline444 progressive420; do
    file=$out/$kind.jpg
    : >"$out/ours.times"
    : >"$out/peer.times"
    for ((i = 0; i < runs; ++i)); do
        if ((i % 2 == 0)); then
            measure "$cli" convert "$file" "$out/ours.ppm" >>"$out/ours.times"
            measure "$peer" "$file" "$out/peer.ppm" >>"$out/peer.times"
        else
            measure "$peer" "$file" "$out/peer.ppm" >>"$out/peer.times"
            measure "$cli" convert "$file" "$out/ours.ppm" >>"$out/ours.times"
        fi
    done
    cpu_ours=$(cut -d' ' -f1 "$out/ours.times" | median)
    cpu_peer=$(cut -d' ' -f1 "$out/peer.times" | median)
    wall_ours=$(cut -d' ' -f2 "$out/ours.times" | median)
    wall_peer=$(cut -d' ' -f2 "$out/peer.times" | median)
    awk -v k="$kind" -v co="$cpu_ours" -v cp="$cpu_peer" -v wo="$wall_ours" -v wp="$wall_peer" \
        'BEGIN { printf "%-16s %9.3f %9.3f %7.2f %9.3f %9.3f %7.2f\n", k, co, cp, co / cp, wo, wp, wo / wp }'
done
