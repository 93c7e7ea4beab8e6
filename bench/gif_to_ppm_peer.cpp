// The peer of `pelora-cli convert FILE OUT.ppm` for GIF files: decodes the
// first image with giflib (DGifSlurp) and writes it through its colour table
// as a binary PPM, as pelora-cli does. Also writes the GIF benchmarks' test
// picture, so that both programs can be timed on it:
//
//   gif_to_ppm_peer --make FILE.gif
//   gif_to_ppm_peer FILE.gif OUT.ppm
//   /usr/bin/time -f '%e s %M KiB' build/bench/gif_to_ppm_peer FILE.gif peer.ppm
//   /usr/bin/time -f '%e s %M KiB' build/viewer/pelora-cli convert FILE.gif out.ppm

#include <gif_lib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/gif_bench_picture.h"

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0) {
        return gif_bench::write_picture(argv[2]) ? 0 : 1;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: gif_to_ppm_peer --make FILE.gif | FILE.gif OUT.ppm\n");
        return 2;
    }
    int error = 0;
    GifFileType* gif = DGifOpenFileName(argv[1], &error);
    if (gif == nullptr || DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
        std::fprintf(stderr, "giflib cannot read %s\n", argv[1]);
        return 1;
    }
    const SavedImage& first = gif->SavedImages[0];
    const int width = first.ImageDesc.Width, height = first.ImageDesc.Height;
    const ColorMapObject* map =
        first.ImageDesc.ColorMap ? first.ImageDesc.ColorMap : gif->SColorMap;
    GifColorType colors[256] = {};
    for (int i = 0; map != nullptr && i < map->ColorCount && i < 256; ++i) {
        colors[i] = map->Colors[i];
    }
    const std::string head =
        "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    std::vector<unsigned char> out(head.begin(), head.end());
    out.reserve(out.size() + size_t(width) * size_t(height) * 3);
    for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
        const GifColorType& c = colors[first.RasterBits[i]];
        out.insert(out.end(), {c.Red, c.Green, c.Blue});
    }
    DGifCloseFile(gif, &error);
    FILE* file = std::fopen(argv[2], "wb");
    const bool ok = file != nullptr && std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return file != nullptr && std::fclose(file) == 0 && ok ? 0 : 1;
}
