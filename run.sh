#!/usr/bin/env bash
# Installs what the build needs, builds the programs, and runs the main job on
# the bundled examples: converts every examples/*.qap to a GIF file in
# build/run/examples/, shows how the viewer reads each example, and, when a
# display is present, opens the examples in Pelora.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}"

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DPELORA_BUILD_TESTS=OFF -DPELORA_BUILD_BENCH=OFF >/dev/null
cmake --build build/run -j "$jobs" >/dev/null

out=build/run/examples
mkdir -p "$out"
for qap in examples/*.qap; do
    name=$(basename "$qap" .qap)
    build/run/qap2gif/qap2gif "$qap" "$out/$name.gif"
done
echo
echo "GIF files written to $out/:"
ls -l "$out"

echo
echo "The examples as the viewer reads them:"
build/run/viewer/pelora-cli info examples/*.qap

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/run/viewer/pelora ]; then
    echo
    echo "Opening the examples in Pelora..."
    build/run/viewer/pelora examples/*.qap
fi
