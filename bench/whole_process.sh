#!/usr/bin/env bash
# The whole-process benchmark: for each format, `pelora-cli convert FILE
# out.ppm` beside a small program that decodes the same 4000 x 3000 file with
# the format's reference library and writes the same PPM; paired alternating
# runs (bench/paired_runs.cpp), medians of processor time (user + system) and
# wall time, printed as a Markdown table. Each pair's two PPM files are
# checked to be byte-identical first.
#
#   bench/whole_process.sh [BUILD_DIR [RUNS]]     (default build/release, 11)
#
# The pictures and the outputs live in /dev/shm when it exists, so that the
# flush of each output to the disk costs both programs the same (nothing).
set -euo pipefail
build=${1:-build/release}
runs=${2:-11}
bin=$build/bench
cli=$build/viewer/pelora-cli
for program in "$cli" "$bin/whole_process_pictures" "$bin/paired_runs"; do
    if [ ! -x "$program" ]; then
        echo "whole_process.sh: $program is not built" >&2
        exit 1
    fi
done
base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
dir=$(mktemp -d "$base/pelora_whole_process.XXXXXX")
trap 'rm -rf "$dir"' EXIT
"$bin/whole_process_pictures" "$dir"

# row LABEL FILE PEER-COMMAND...
row() {
    local label=$1 file=$2
    shift 2
    "$bin/paired_runs" --runs "$runs" --label "$label" --compare "$dir/ours.ppm" "$dir/peer.ppm" \
        -- "$cli" convert "$dir/$file" "$dir/ours.ppm" -- "$@" "$dir/$file" "$dir/peer.ppm"
}

echo "$(nproc) cores; $runs paired runs; medians; peer after each input's name"
echo
"$bin/paired_runs" --header
row "BMP 24-bit (stb_image)" photo.bmp "$bin/stb_to_ppm"
row "GIF 256 colours (giflib)" photo.gif "$bin/gif_to_ppm_peer"
row "JPEG baseline 4:2:0 q90 (libjpeg-turbo)" photo.jpg "$bin/jpeg_to_ppm_peer"
row "JPEG progressive 4:2:0 q90 (libjpeg-turbo)" photo_progressive.jpg "$bin/jpeg_to_ppm_peer"
if command -v pcxtoppm >/dev/null; then
    "$bin/paired_runs" --runs "$runs" --label "PCX 24-bit (netpbm pcxtoppm)" \
        --compare "$dir/ours.ppm" "$dir/peer.ppm" --peer-stdout "$dir/peer.ppm" \
        -- "$cli" convert "$dir/photo.pcx" "$dir/ours.ppm" -- pcxtoppm "$dir/photo.pcx"
else
    echo "| PCX 24-bit | netpbm's pcxtoppm is not installed | | | | | | |"
fi
row "PNG truecolour, level 6 (libpng)" photo.png "$bin/png_to_ppm_peer"
row "TGA 24-bit run-length (stb_image)" photo.tga "$bin/stb_to_ppm"
row "TIFF RGB LZW + Predictor 2 (libtiff)" photo_lzw.tif "$bin/tiff_to_ppm_peer"
row "TIFF bilevel T.6 (libtiff)" photo_g4.tif "$bin/tiff_to_ppm_peer"
