// Writing a phone image as a GIF89a file.

#include "qap2gif/gif_writer.h"

#include <cerrno>
#include <string>

#include "qap2gif/lzw_encoder.h"

namespace qap2gif {

namespace {

// Gray levels of the four phone values, white to black.
constexpr uint8_t kGrayLevels[4] = {255, 170, 85, 0};

void put_u16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

void check_phone_image_for_gif(const phoneimage::PhoneImage& image) {
    if (image.width < 1 || image.width > 65535 || image.height < 1 || image.height > 65535) {
        throw "Width and Height must be between 1 and 65535, saw " + std::to_string(image.width) +
            " x " + std::to_string(image.height) + ".";
    }
    if (image.depth < 2 || image.depth > 8) {
        throw "Depth must be between 2 and 8, saw " + std::to_string(image.depth) + ".";
    }
    // Both factors are at most 65535: the product fits in 64 bits.
    const uint64_t needed =
        uint64_t{static_cast<uint32_t>(image.width)} * static_cast<uint32_t>(image.height);
    if (image.pixel_values.size() < needed) {
        throw "Data holds " + std::to_string(image.pixel_values.size()) + " pixels, but " +
            std::to_string(image.width) + " x " + std::to_string(image.height) + " needs " +
            std::to_string(needed) + ".";
    }
}

GifFileWriter::GifFileWriter(const phoneimage::PhoneImage& image) {
    check_phone_image_for_gif(image);
    // Checked: width and height 1..65535, depth 2..8, enough pixel values.
    screen_width_ = static_cast<uint16_t>(image.width);
    screen_height_ = static_cast<uint16_t>(image.height);
    const auto bits = static_cast<uint8_t>(image.depth - 1);
    screen_flags_ = static_cast<uint8_t>(0x80 | (bits << 4) | bits);
    color_count_ = int32_t{1} << image.depth;
    color_table_.assign(static_cast<size_t>(color_count_) * 3, 0);
    for (size_t i = 0; i < 4; ++i) {
        color_table_[3 * i] = color_table_[3 * i + 1] = color_table_[3 * i + 2] = kGrayLevels[i];
    }
    const size_t count = size_t{screen_width_} * screen_height_;
    images_.push_back(std::make_unique<GifImageRecord>(
        screen_width_, screen_height_,
        std::vector<uint8_t>(image.pixel_values.begin(),
                             image.pixel_values.begin() + static_cast<ptrdiff_t>(count))));
}

void GifFileWriter::put(std::FILE* file, const uint8_t* bytes, size_t count) {
    if (error_ == 0 && std::fwrite(bytes, 1, count, file) != count) {
        error_ = errno != 0 ? errno : EIO;
    }
}

int GifFileWriter::write(std::FILE* file) {
    error_ = 0;
    uint8_t header[13] = {'G', 'I', 'F', '8', '9', 'a'};
    put_u16(header + 6, screen_width_);
    put_u16(header + 8, screen_height_);
    header[10] = screen_flags_;
    header[11] = background_index_;
    header[12] = aspect_ratio_;
    put(file, header, sizeof header);
    put(file, color_table_.data(), color_table_.size());

    const int min_code_size = (screen_flags_ & 7) + 1;
    for (const auto& image : images_) {
        uint8_t descriptor[11];
        descriptor[0] = image->separator;
        put_u16(descriptor + 1, image->left);
        put_u16(descriptor + 3, image->top);
        put_u16(descriptor + 5, image->width);
        put_u16(descriptor + 7, image->height);
        descriptor[9] = image->flags;
        descriptor[10] = static_cast<uint8_t>(min_code_size);
        put(file, descriptor, sizeof descriptor);

        GifLzwEncoder encoder(file, min_code_size);
        encoder.start();
        for (size_t row = 0; row < image->height; ++row) {
            encoder.encode(image->pixels.data() + row * image->width, image->width);
        }
        encoder.finish();
        if (error_ == 0 && encoder.status() != 0) {
            error_ = ENOMEM;  // the encoder's tables could not be allocated
        }
        if (error_ == 0 && encoder.packer().error() != 0) {
            error_ = encoder.packer().error();
        }
        const uint8_t terminator = 0;
        put(file, &terminator, 1);
    }
    const uint8_t trailer = 0x3B;
    put(file, &trailer, 1);
    return error_ == 0 ? 1 : 0;
}

}  // namespace qap2gif
