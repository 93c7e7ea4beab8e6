// LZW as TIFF 6.0 defines it (compression 5), with the horizontal-differencing
// predictor (Predictor 2).
#pragma once

#include <cstddef>

#include "imaging/readers/reader_io.h"
#include "imaging/readers/tiff/tiff_rows.h"

namespace imaging::tiff {

// Decodes the strips one after another, each a separate LZW stream read
// through `source`, and stores every complete row of S bytes (after the
// predictor's differences are undone, when `predictor` is set) until the rows
// are all stored. A strip ends at its end code or where its data ends; a row
// it leaves unfinished is dropped. Returns 0 once every row is stored,
// IMG_ERR_LZW when the strips end first or the codes are damaged (the rows
// stored before stay), IMG_ERR_TIFF_STRUCTURE when a read fails, or
// IMG_ERR_MEMORY.
//
// A big picture's strips of rows_per_strip rows each decode on all cores,
// with the same result (see tiff_lzw.cpp).
ImgStatus lzw_pass(StripSource& source, size_t strip_count, uint32_t rows_per_strip, RowStore& rows,
                   bool predictor, uint32_t samples_per_pixel);

}  // namespace imaging::tiff
