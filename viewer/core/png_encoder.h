// A PNG encoder that streams a picture's rows into an output file.
//
// The file: the 8-byte signature, then chunks, each its data length (4 bytes,
// big-endian), its type (4 letters), the data and a CRC-32 of type and data:
//
//   IHDR  width, height, bit depth, colour type, then 0 for deflate
//         compression, 0 for the adaptive filters, 0 for no interlacing
//   PLTE  the colour table, red, green, blue per entry (palette pictures)
//   IDAT  the zlib stream of the filtered rows, cut into chunks as it comes
//   IEND  no data
//
// Each row goes into the stream as a filter-type byte followed by the row's
// bytes less a prediction from their neighbours: None (no prediction), Sub
// (the byte one pixel to the left), Up (the byte above), Average (of those
// two) or Paeth (whichever of left, above and upper-left is nearest to
// left + above - upper-left).
//
// How it compresses was chosen by measurement on a 4000 x 3000 photograph and
// its gray and 256-colour versions (bench/png_writer_bench.cpp):
//   - Samples that are levels (true colour, gray, or a palette that is the gray
//     ramp, so an index is its own level): each row takes the filter whose
//     bytes, read as signed numbers, have the smallest sum of magnitudes, and
//     zlib's run-length strategy codes the result. The residues of a
//     photograph rarely repeat over a distance, so searching for long matches
//     as the default strategy does costs several times the time for a file
//     no smaller: this writes the photograph in a quarter of libpng's default
//     time at the same size.
//   - Colour indices (any other palette, two-colour pictures): no filter, as
//     neighbouring indices predict nothing, and zlib's default level, whose
//     long matches find the repeated patterns of dithering and drawings.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "output/output_file.h"

struct z_stream_s;

namespace viewer {

enum class PngColorType : uint8_t { Gray = 0, Rgb = 2, Palette = 3 };

struct PngHeader {
    uint32_t width = 0;  // 1..2^31-1
    uint32_t height = 0;
    uint8_t bit_depth = 8;  // 1, 8 or 16
    PngColorType color_type = PngColorType::Rgb;
    const uint8_t* palette = nullptr;  // red, green, blue per entry (Palette only)
    int palette_entries = 0;           // 1..256 (Palette only)
    bool levels = true;                // samples are levels: filter each row
};

class PngEncoder {
  public:
    explicit PngEncoder(output::OutputFile& file) : file_(file) {}
    PngEncoder(const PngEncoder&) = delete;
    PngEncoder& operator=(const PngEncoder&) = delete;

    // Each call returns 0, or the errno of the failure (the file's own, or
    // ENOMEM when zlib had no memory); once one failed, the rest do nothing.

    // Writes the signature and the header chunks.
    int begin(const PngHeader& header);
    // Adds the next row, top row first, in the file's byte order: RGB, 16-bit
    // samples big-endian, 1-bit pixels packed from the most significant bit.
    int write_row(const uint8_t* row);
    // Ends the stream and writes the last chunks.
    int finish();

    // Bytes of one row as write_row takes it.
    size_t row_bytes() const { return row_bytes_; }

  private:
    void write_chunk(const char* type, const uint8_t* data, size_t size);
    const uint8_t* filter_row(const uint8_t* row);
    int deflate_bytes(const uint8_t* bytes, size_t size, int flush);
    int fail(int error);

    struct StreamEnd {
        void operator()(z_stream_s* stream) const;
    };

    output::OutputFile& file_;
    std::unique_ptr<z_stream_s, StreamEnd> stream_;  // set once begin() opened it
    int error_ = 0;
    bool levels_ = true;
    size_t row_bytes_ = 0;
    size_t pixel_bytes_ = 1;              // bytes from a pixel to its left neighbour
    std::vector<uint8_t> previous_;       // the row above, unfiltered (zeros at first)
    std::vector<uint8_t> candidates_[5];  // the filter byte and the row, per filter
    std::vector<uint8_t> out_;            // compressed bytes for the next IDAT chunk
};

}  // namespace viewer
