// Allocation, release, validation and default palette of image descriptors.

#include "imaging/image.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "imaging/checked_math.h"

namespace imaging {

namespace {

// Asks the system to back the whole 2 MiB pages inside a large block with
// large pages. A picture's block is filled once, row after row, so touching it
// 4 KiB at a time would cost a page fault (and the kernel's zeroing) for
// every 4 KiB; with large pages it costs one fault per 2 MiB. Only a hint:
// where the system does not follow it, nothing changes.
void prefer_large_pages(uint8_t* block, size_t bytes) {
    constexpr size_t kLargePage = size_t{2} << 20;
    const uintptr_t start =
        (reinterpret_cast<uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kLargePage - 1);
    if (end > start) {
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    }
}

// The largest storage block an image may take.
constexpr int64_t kMaxBlockBytes = int64_t{1} << 31;

// Bytes per stored row: ((width * bits + 31) >> 3) with the two low bits
// cleared, so each row is padded to a multiple of 4 bytes. Computed in 64 bits;
// returns 0 when the row width is not a positive 32-bit value (a negative or
// huge width), which allocation refuses.
int64_t compute_row_bytes(int32_t width, int32_t bits) {
    const int64_t row = ((int64_t{width} * bits + 31) >> 3) & ~int64_t{3};
    if (row <= 0 || row > INT32_MAX) {
        return 0;
    }
    return row;
}

// How an image of a size is stored: one block of header, colour table and rows.
struct StorageLayout {
    int32_t bits = 0;         // as stored: 4-bit pictures take a byte per pixel
    int32_t color_count = 0;  // colour table entries
    int64_t row_bytes = 0;
    int64_t table_bytes = 0;  // header and colour table
    int64_t pixel_bytes = 0;  // rows
};

ImgStatus plan_storage(int32_t width, int32_t height, int32_t bits, StorageLayout* layout) {
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24) {
        return IMG_ERR_BPP;
    }
    if (bits == 4) {
        bits = 8;  // 4-bit pictures are held one index per byte
    }
    if (width == 0 || height == 0) {
        return IMG_ERR_RANGE;
    }
    layout->bits = bits;
    layout->color_count = bits < 16 ? (1 << bits) : 0;
    layout->row_bytes = compute_row_bytes(width, bits);
    if (layout->row_bytes == 0 || height < 0) {
        return IMG_ERR_MEMORY;  // no sensible size: refuse rather than wrap
    }
    layout->table_bytes = sizeof(BitmapInfoHeader) + 4 * int64_t{layout->color_count};
    if (!checked_mul(layout->row_bytes, int64_t{height}, &layout->pixel_bytes) ||
        layout->pixel_bytes > kMaxBlockBytes - layout->table_bytes) {
        return IMG_ERR_MEMORY;
    }
    return IMG_OK;
}

ImgStatus allocate(ImageDesc* image, int32_t width, int32_t height, int32_t bits) {
    image_zero(image);
    StorageLayout layout;
    const ImgStatus status = plan_storage(width, height, bits, &layout);
    if (status != IMG_OK) {
        return status;
    }
    bits = layout.bits;
    const int32_t color_count = layout.color_count;
    const int64_t row_bytes = layout.row_bytes;
    const int64_t table_bytes = layout.table_bytes;
    const int64_t pixel_bytes = layout.pixel_bytes;
    auto* block = static_cast<uint8_t*>(std::calloc(1, table_bytes + pixel_bytes));
    if (block == nullptr) {
        return IMG_ERR_MEMORY;
    }
    prefer_large_pages(block, static_cast<size_t>(table_bytes + pixel_bytes));

    auto* header = reinterpret_cast<BitmapInfoHeader*>(block);
    header->biSize = sizeof(BitmapInfoHeader);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = static_cast<uint16_t>(bits);
    header->biCompression = 0;
    header->biSizeImage = static_cast<uint32_t>(pixel_bytes);
    header->biClrUsed = static_cast<uint32_t>(color_count);
    header->biClrImportant = static_cast<uint32_t>(color_count);

    image->header = header;
    image->palette = reinterpret_cast<PaletteEntry*>(block + sizeof(BitmapInfoHeader));
    image->color_count = color_count;
    palette_set_gray(image);

    image->pixels = block + table_bytes;
    image->row_bytes = static_cast<uint32_t>(row_bytes);
    image->area_right = static_cast<uint32_t>(width - 1);
    image->area_bottom = static_cast<uint32_t>(height - 1);
    return IMG_OK;
}

}  // namespace

int64_t image_storage_bytes(int32_t width, int32_t height, int32_t bits) {
    StorageLayout layout;
    if (plan_storage(width, height, bits, &layout) != IMG_OK) {
        return 0;
    }
    return layout.table_bytes + layout.pixel_bytes;
}

ImgStatus image_alloc(ImageDesc* image, int32_t width, int32_t height, int32_t bits) {
    // Section storage does not exist here; both kinds end in plain memory.
    return allocate(image, width, height, bits);
}

ImgStatus image_alloc_memory(ImageDesc* image, int32_t width, int32_t height, int32_t bits) {
    return allocate(image, width, height, bits);
}

ImgStatus image_free(ImageDesc* image) {
    if (image == nullptr || image->header == nullptr) {
        return 1;  // nothing to free
    }
    std::free(image->header);
    image_zero(image);
    return IMG_OK;
}

ImgStatus image_zero(ImageDesc* image) {
    std::memset(image, 0, sizeof(*image));
    return IMG_OK;
}

void image_copy_desc(const ImageDesc* source, ImageDesc* destination) {
    if (source != destination) {
        std::memcpy(destination, source, sizeof(*destination));
    }
}

void image_set_area(ImageDesc* image, uint32_t left, uint32_t top, uint32_t right,
                    uint32_t bottom) {
    image->area_left = left;
    image->area_top = top;
    image->area_right = right;
    image->area_bottom = bottom;
}

ImgStatus image_sync_palette(ImageDesc* image) {
    // Only images kept in a device section bitmap carry a second copy of the
    // colour table; plain-memory images have nothing to synchronise.
    if (image->section_bitmap == nullptr || image->color_count == 0) {
        return IMG_OK;
    }
    return IMG_OK;
}

ImgStatus image_check(ImageDesc* image, uint32_t accepted_bits) {
    if (image->pixels == nullptr) {
        return IMG_ERR_BAD_BUFFER;
    }
    const BitmapInfoHeader* header = image->header;
    if (header == nullptr) {
        return IMG_ERR_RANGE;
    }
    if (image->area_left > image->area_right) {
        std::swap(image->area_left, image->area_right);
    }
    if (image->area_top > image->area_bottom) {
        std::swap(image->area_top, image->area_bottom);
    }
    const int bits = header->biBitCount;
    const uint32_t column_limit = bits == 1 ? 65535 : 32768;
    if (image->area_right >= static_cast<uint32_t>(header->biWidth) ||
        image->area_right >= column_limit) {
        return IMG_ERR_RANGE;
    }
    if (image->area_bottom >= 32768 ||
        image->area_bottom >= static_cast<uint32_t>(header->biHeight)) {
        return IMG_ERR_RANGE;
    }
    if ((int64_t{bits} * header->biWidth) / 8 > int64_t{image->row_bytes}) {
        return IMG_ERR_RANGE;
    }
    if (header->biCompression != 0) {
        return IMG_ERR_COMPRESSED;
    }
    if (bits >= 32 || (accepted_bits & (uint32_t{1} << bits)) == 0) {
        return IMG_ERR_BPP;
    }
    return IMG_OK;
}

ImgStatus image_check_pair(ImageDesc* source, ImageDesc* destination, uint32_t accepted_bits) {
    const ImgStatus status = image_check(source, accepted_bits);
    return status != IMG_OK ? status : image_check(destination, accepted_bits);
}

ImgStatus image_check_8_24(ImageDesc* image) {
    return image_check(image, kAcceptBpp8_24);
}

ImgStatus image_check_1_8_24(ImageDesc* image) {
    return image_check(image, kAcceptBpp1_8_24);
}

ImgStatus image_check_1_8_16_24(ImageDesc* image) {
    return image_check(image, kAcceptBpp1_8_16_24);
}

int32_t gray_step(int32_t bits) {
    constexpr int32_t kSteps[] = {255, 255, 85, 36, 17, 8, 4, 2, 1};
    if (bits < 0 || bits > 8) {
        return 1;
    }
    return kSteps[bits];
}

int32_t header_color_count(const BitmapInfoHeader* header) {
    if (header->biClrUsed != 0) {
        return static_cast<int32_t>(header->biClrUsed);
    }
    return header->biBitCount < 16 ? (1 << header->biBitCount) : 0;
}

int32_t palette_capacity(int32_t bits) {
    return bits >= 1 && bits <= 8 ? (1 << bits) : 0;
}

int32_t palette_entries(const ImageDesc& image) {
    if (image.palette == nullptr || image.header == nullptr || image.color_count <= 0) {
        return 0;
    }
    return std::min(image.color_count, palette_capacity(image.header->biBitCount));
}

void palette_set_gray(ImageDesc* image) {
    const BitmapInfoHeader* header = image->header;
    if (header == nullptr) {
        return;
    }
    if (header->biBitCount == 16) {
        image->type_flags = IMAGE_GRAY;
        return;
    }
    if (image->palette == nullptr || header->biBitCount > 8) {
        return;
    }
    image->type_flags |= IMAGE_GRAY;
    image->color_count = header_color_count(header);
    // The ramp never runs past the colour table the storage block holds.
    const int32_t entries = std::min(image->color_count, palette_capacity(header->biBitCount));
    const int32_t step = gray_step(header->biBitCount);
    for (int32_t i = 0; i < entries; ++i) {
        const auto level = static_cast<uint8_t>((i * step) & 0xFF);
        image->palette[i] = PaletteEntry{level, level, level, 0};
    }
    image_sync_palette(image);
}

int32_t palette_is_gray(const ImageDesc* image) {
    const BitmapInfoHeader* header = image->header;
    if (header == nullptr) {
        return 0;
    }
    const int bits = header->biBitCount;
    if (bits == 16 && image->type_flags == IMAGE_GRAY) {
        return 1;
    }
    if (image->color_count <= 0 || image->palette == nullptr || bits > 16) {
        return 0;
    }
    const int32_t entries = std::min(image->color_count, palette_capacity(header->biBitCount));
    const int32_t step = gray_step(bits);
    for (int32_t i = 0; i < entries; ++i) {
        const PaletteEntry& entry = image->palette[i];
        if (entry.red != entry.green || entry.red != entry.blue) {
            return 0;
        }
    }
    for (int32_t i = 0; i < entries; ++i) {
        if (image->palette[i].red != i * step) {
            return 0;
        }
    }
    return 1;
}

void palette_finish(ImageDesc* image, int32_t entries_read) {
    image->color_count = entries_read;
    image->type_flags &= ~IMAGE_GRAY;
    if (entries_read == 0) {
        palette_set_gray(image);
    } else if (palette_is_gray(image)) {
        image->type_flags |= IMAGE_GRAY;
    }
    image_sync_palette(image);
}

void image_common_area(const ImageDesc* a, const ImageDesc* b, uint32_t* rows, uint32_t* columns) {
    uint32_t r = a->area_bottom - a->area_top + 1;
    uint32_t c = a->area_right - a->area_left + 1;
    const uint32_t b_rows = b->area_bottom - b->area_top + 1;
    const uint32_t b_columns = b->area_right - b->area_left + 1;
    if (b_rows < r) {
        r = b_rows;
    }
    if (b_columns < c) {
        c = b_columns;
    }
    *rows = r;
    *columns = c;
}

}  // namespace imaging
