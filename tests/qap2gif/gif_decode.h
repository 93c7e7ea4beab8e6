// Decoding GIF files with giflib, the reference decoder of the tests.
#pragma once

#include <gif_lib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct DecodedGif {
    bool ok = false;
    std::string error;
    int screen_width = 0;
    int screen_height = 0;
    int image_count = 0;
    int extension_count = 0;
    std::vector<uint8_t> colors;  // red, green, blue per entry of the global table
    int image_width = 0;
    int image_height = 0;
    std::vector<uint8_t> pixels;
};

inline DecodedGif decode_gif(const std::vector<uint8_t>& bytes) {
    struct Reader {
        const std::vector<uint8_t>* bytes;
        size_t pos;
    } reader{&bytes, 0};
    const InputFunc read = [](GifFileType* gif, GifByteType* out, int count) -> int {
        auto* r = static_cast<Reader*>(gif->UserData);
        const size_t available = r->bytes->size() - r->pos;
        const size_t n = std::min(available, static_cast<size_t>(count));
        std::memcpy(out, r->bytes->data() + r->pos, n);
        r->pos += n;
        return static_cast<int>(n);
    };
    DecodedGif result;
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, read, &error);
    if (gif == nullptr) {
        result.error = GifErrorString(error);
        return result;
    }
    if (DGifSlurp(gif) != GIF_OK) {
        result.error = GifErrorString(gif->Error);
        DGifCloseFile(gif, &error);
        return result;
    }
    result.screen_width = gif->SWidth;
    result.screen_height = gif->SHeight;
    result.image_count = gif->ImageCount;
    result.extension_count = gif->ExtensionBlockCount;
    if (gif->SColorMap != nullptr) {
        for (int i = 0; i < gif->SColorMap->ColorCount; ++i) {
            const GifColorType& c = gif->SColorMap->Colors[i];
            result.colors.insert(result.colors.end(), {c.Red, c.Green, c.Blue});
        }
    }
    if (gif->ImageCount > 0) {
        const SavedImage& image = gif->SavedImages[0];
        result.extension_count += image.ExtensionBlockCount;
        result.image_width = image.ImageDesc.Width;
        result.image_height = image.ImageDesc.Height;
        const size_t count = static_cast<size_t>(result.image_width) * result.image_height;
        result.pixels.assign(image.RasterBits, image.RasterBits + count);
    }
    DGifCloseFile(gif, &error);
    result.ok = true;
    return result;
}
