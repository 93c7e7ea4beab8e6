// Pictures decoded through a coefficient store: progressive pictures (T.81
// Annex G: spectral selection and successive approximation) and sequential
// pictures whose components come in separate scans.
//
// Each component gets a zero-filled store of 64 coefficients per block for all
// its blocks in whole MCUs, row by row, and for each block the highest zig-zag
// index that may be non-zero (which spares the refinement scans and the output
// the zeros beyond it). Scan after scan adds to it:
//   - an interleaved scan (several components) runs MCU by MCU
//     and takes each component's h x v blocks of the MCU;
//   - a scan of one component runs block by block over the blocks that the
//     picture covers (not whole MCUs), in rows.
// Restart intervals count MCUs (blocks in a one-component scan); each restart
// resets the DC predictors and the end-of-band run. When the series ends (EOI,
// the end of the file between scans, or a failure), every MCU row is output
// from the stores (on helper threads for a big picture). A file that ends
// between scans, without EOI, ends the series with IMG_ERR_LZW: what the scans
// read make of the picture is output, but more scans may have been meant.
//
// Bounds: the stores are sized from the frame and refused above the library's
// 2 GiB block limit, and a file may hold at most kMaxScans scans. Most scans
// cost time in proportion to their data: a block of a sequential or DC scan
// takes at least a bit; a run of end-of-band blocks in a first AC scan (up to
// 32767 blocks in a few bits) is passed over at once; a refinement takes a bit
// for each coefficient it corrects. What costs time without data is a
// refinement's end-of-band run over blocks with nothing to correct: little per
// block, but over every block of the picture in every such scan. The blocks
// all refinement scans visit are therefore bounded by the file's size
// (kRefineBlocksPerByte per byte, and kRefineBlocksBase in any file). A scan
// past either bound is not decoded: the picture decoded so far is output and
// the load fails.

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imaging/checked_math.h"
#include "imaging/readers/jpeg/jpeg_decoder.h"
#include "imaging/readers/jpeg/jpeg_output.h"
#include "imaging/readers/jpeg/jpeg_threads.h"
#include "imaging/simd/byte_rows.h"

namespace imaging::jpeg {

namespace {

// The refinement budget: blocks visited per file byte, and in any file. A
// real progressive file visits about 0.5 per byte; one of a flat picture (a
// bit or two per block in its DC scans, nearly nothing in its AC scans) about
// 6 in a series of ten refinements.
constexpr uint64_t kRefineBlocksPerByte = 64;
constexpr uint64_t kRefineBlocksBase = uint64_t{1} << 20;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

int16_t* store_block(const Component& c, uint32_t bx, uint32_t by) {
    return c.store + (size_t{by} * c.blocks_wide + bx) * 64;
}

uint8_t& store_last(const Component& c, uint32_t bx, uint32_t by) {
    return c.last[size_t{by} * c.blocks_wide + bx];
}

// Checks the scan header: T.81 G.1.1.1's rules for progressive scans (Ss = 0
// with Se = 0 for DC; 0 < Ss <= Se <= 63 for AC, one component only;
// Al = Ah - 1 for refinements; Al at most 13), and at least one component.
bool scan_valid(const Decoder& d) {
    const Scan& s = d.scan;
    if (s.count == 0) {
        return false;
    }
    if (d.frame.process != 2) {
        return true;
    }
    if (s.ss == 0 ? s.se != 0 : (s.se < s.ss || s.se > 63 || s.count != 1)) {
        return false;
    }
    return (s.ah == 0 || s.al == s.ah - 1) && s.al <= 13;
}

// The kind of work a scan does on each block.
enum class ScanKind { kSequential, kDcFirst, kDcRefine, kAcFirst, kAcRefine };

ScanKind scan_kind(const Decoder& d) {
    const Scan& s = d.scan;
    if (d.frame.process != 2) {
        return ScanKind::kSequential;
    }
    if (s.ss == 0) {
        return s.ah == 0 ? ScanKind::kDcFirst : ScanKind::kDcRefine;
    }
    return s.ah == 0 ? ScanKind::kAcFirst : ScanKind::kAcRefine;
}

// The tables the scan uses must have been defined. Returns a detail or 0.
int32_t check_tables(const Decoder& d, ScanKind kind) {
    for (uint32_t i = 0; i < d.scan.count; ++i) {
        const Component& c = d.frame.components[d.scan.components[i]];
        if (c.dc_slot >= kSlots || c.ac_slot >= kSlots) {
            return JPEG_DETAIL_COMPONENT;
        }
        const bool dc = kind == ScanKind::kSequential || kind == ScanKind::kDcFirst;
        const bool ac = kind == ScanKind::kSequential || kind == ScanKind::kAcFirst ||
                        kind == ScanKind::kAcRefine;
        if ((dc && !d.dc[c.dc_slot].defined) || (ac && !d.ac[c.ac_slot].defined)) {
            return JPEG_DETAIL_HUFFMAN;
        }
    }
    return 0;
}

// Decodes one block of component c. False for a bad code.
template <ScanKind kKind>
bool decode_one(Decoder& d, ProgressiveScan& ps, Component& c, uint32_t bx, uint32_t by) {
    int16_t* block = store_block(c, bx, by);
    uint8_t& last = store_last(c, bx, by);
    switch (kKind) {
        case ScanKind::kSequential: {
            std::memset(block, 0, 64 * sizeof *block);
            const int k = decode_block(d.bits, d.dc[c.dc_slot].table, d.ac[c.ac_slot].table,
                                       &c.dc_predictor, block);
            last = static_cast<uint8_t>(k < 0 ? 63 : k);
            return k >= 0;
        }
        case ScanKind::kDcFirst:
            return decode_dc_first(d.bits, d.dc[c.dc_slot].table, &c.dc_predictor, ps.al, block);
        case ScanKind::kDcRefine:
            decode_dc_refine(d.bits, ps.al, block);
            return true;
        case ScanKind::kAcFirst:
            return decode_ac_first(d.bits, d.ac[c.ac_slot].table, ps, block, last);
        case ScanKind::kAcRefine:
            return decode_ac_refine(d.bits, d.ac[c.ac_slot].table, ps, block, last);
    }
    return false;
}

// At the start of each MCU (or block) of a scan with a restart interval:
// after `interval` of them the data goes on after an RST marker, with the DC
// predictors and the end-of-band run reset.
void count_restart(Decoder& d, ProgressiveScan& ps, uint32_t& restarts_left) {
    if (d.restart_interval != 0 && restarts_left == 0) {
        d.bits.restart();
        for (uint32_t i = 0; i < d.frame.count; ++i) {
            d.frame.components[i].dc_predictor = 0;
        }
        ps.eob_run = 0;
        restarts_left = d.restart_interval;
    }
}

// Data that ran out explains a bad code that follows it. Returns 0 or a
// detail.
int32_t block_status(const Decoder& d, bool ok) {
    if (d.bits.overran()) {
        return JPEG_DETAIL_DATA_ENDED;
    }
    return ok ? 0 : JPEG_DETAIL_HUFFMAN;
}

// A scan of several components, MCU by MCU (DC scans and sequential ones).
template <ScanKind kKind>
int32_t decode_mcus(Decoder& d, ProgressiveScan& ps) {
    uint32_t restarts_left = d.restart_interval;
    for (uint32_t y = 0; y < d.mcus_high; ++y) {
        for (uint32_t x = 0; x < d.mcus_wide; ++x) {
            count_restart(d, ps, restarts_left);
            --restarts_left;
            bool ok = true;
            for (uint32_t i = 0; i < d.scan.count && ok; ++i) {
                Component& c = d.frame.components[d.scan.components[i]];
                for (uint32_t by = 0; by < c.v && ok; ++by) {
                    for (uint32_t bx = 0; bx < c.h && ok; ++bx) {
                        ok = decode_one<kKind>(d, ps, c, x * c.h + bx, y * c.v + by);
                    }
                }
            }
            if (const int32_t detail = block_status(d, ok); detail != 0) {
                return detail;
            }
        }
    }
    return 0;
}

// Blocks from (x, y) on, at most `limit`, that an end-of-band run passes over
// without decoding: in a first AC scan all of them; in a refinement those
// with nothing non-zero in the band, which take no correction bit.
template <ScanKind kKind>
uint64_t passed_blocks(const Component& c, const ProgressiveScan& ps, uint32_t x, uint32_t y,
                       uint64_t limit) {
    if (kKind == ScanKind::kAcFirst) {
        return limit;
    }
    // Sixty-four blocks at a time; the store holds 64 spare bytes behind the
    // last of them. AC scans have ss >= 1.
    const uint8_t* last = &store_last(c, x, y);
    const simd::ByteRowKernels& kernels = simd::byte_row_kernels();
    uint64_t n = 0;
    while (n < limit) {
        const uint64_t in_band = kernels.bytes_above(last + n, static_cast<uint8_t>(ps.ss - 1));
        if (in_band != 0) {
            return std::min<uint64_t>(n + static_cast<uint64_t>(std::countr_zero(in_band)), limit);
        }
        n += 64;
    }
    return limit;
}

// A scan of one component, block by block over the blocks the picture covers.
// Runs of end-of-band blocks are passed over at once (within a restart
// interval; a refinement's within a row).
template <ScanKind kKind>
int32_t decode_blocks(Decoder& d, ProgressiveScan& ps, Component& c) {
    const uint32_t wide = c.scan_blocks_wide;
    const uint64_t total = uint64_t{wide} * c.scan_blocks_high;
    uint32_t restarts_left = d.restart_interval;
    uint32_t x = 0, y = 0;
    for (uint64_t done = 0; done < total;) {
        count_restart(d, ps, restarts_left);
        uint64_t step = 0;
        if ((kKind == ScanKind::kAcFirst || kKind == ScanKind::kAcRefine) && ps.eob_run > 0) {
            uint64_t limit = std::min<uint64_t>(
                ps.eob_run, kKind == ScanKind::kAcFirst ? total - done : wide - x);
            if (d.restart_interval != 0) {
                limit = std::min<uint64_t>(limit, restarts_left);
            }
            step = passed_blocks<kKind>(c, ps, x, y, limit);
            ps.eob_run -= static_cast<uint32_t>(step);
        }
        if (step == 0) {
            const bool ok = decode_one<kKind>(d, ps, c, x, y);
            if (const int32_t detail = block_status(d, ok); detail != 0) {
                return detail;
            }
            step = 1;
        }
        restarts_left -= static_cast<uint32_t>(std::min<uint64_t>(step, restarts_left));
        done += step;
        x += static_cast<uint32_t>(step);  // below 2^16 + 32768
        if (x >= wide) {
            y += x / wide;
            x %= wide;
        }
    }
    return 0;
}

// Decodes the entropy-coded data of the scan just read into the stores.
// Returns 0 or a detail (bad code, data ended).
template <ScanKind kKind>
int32_t decode_scan(Decoder& d) {
    ProgressiveScan ps{d.scan.ss, d.scan.se, d.scan.al};
    for (uint32_t i = 0; i < d.frame.count; ++i) {
        d.frame.components[i].dc_predictor = 0;
    }
    if (d.scan.count == 1) {
        return decode_blocks<kKind>(d, ps, d.frame.components[d.scan.components[0]]);
    }
    return decode_mcus<kKind>(d, ps);
}

// The blocks an AC refinement scan visits: every block of its component (0
// for other scans).
uint64_t refine_blocks(const Decoder& d) {
    if (scan_kind(d) != ScanKind::kAcRefine) {
        return 0;
    }
    const Component& c = d.frame.components[d.scan.components[0]];
    return uint64_t{c.scan_blocks_wide} * c.scan_blocks_high;
}

// Outputs every MCU row of the stores.
ImgStatus output_stores(Decoder& d, const PictureOutput& out) {
    RowPipeline pipeline;
    if (pipeline.start(out, helpers_for(out), RowPipeline::Rows::kViews) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    const Frame& f = d.frame;
    const uint32_t rows = std::min(d.mcus_high, out.mcu_rows_to_place());
    for (uint32_t mcu_y = 0; mcu_y < rows; ++mcu_y) {
        CoefficientRow& row = pipeline.next_free();
        for (uint32_t i = 0; i < f.count; ++i) {
            const Component& c = f.components[i];
            row.blocks[i] = store_block(c, 0, mcu_y * c.v);
            row.last[i] = &store_last(c, 0, mcu_y * c.v);
        }
        pipeline.hand_over(mcu_y, d.mcus_wide * d.mcu_width);
    }
    pipeline.finish();
    return IMG_OK;
}

}  // namespace

ImgStatus decode_with_store(Decoder& d, const PictureOutput& out) {
    Frame& f = d.frame;
    std::unique_ptr<void, FreeDeleter> stores[kMaxComponents];
    int64_t total = 0;
    for (uint32_t i = 0; i < f.count; ++i) {
        Component& c = f.components[i];
        // blocks_wide and blocks_high are at most 4 * 4096: no overflow. Per
        // block 64 coefficients and its highest index.
        const int64_t blocks = int64_t{c.blocks_wide} * c.blocks_high;
        int64_t bytes = 0;
        if (!checked_mul(blocks, int64_t{129}, &bytes) || !checked_add(total, bytes, &total) ||
            total > kMaxStoreBytes) {
            return IMG_ERR_MEMORY;
        }
        stores[i].reset(std::calloc(static_cast<size_t>(bytes) + 128 + 64, 1));
        if (!stores[i]) {
            return IMG_ERR_MEMORY;
        }
        c.store = static_cast<int16_t*>(stores[i].get());
        c.last = reinterpret_cast<uint8_t*>(c.store + blocks * 64);
    }

    int32_t failure = 0;  // the detail that ended the series early
    // The file's size is far below 2^48 bytes.
    uint64_t refine_left =
        kRefineBlocksBase + kRefineBlocksPerByte * std::min(d.file_bytes, uint64_t{1} << 48);
    for (;;) {
        if (!scan_valid(d)) {
            d.detail = JPEG_DETAIL_PROGRESSION;
            return IMG_ERR_JPEG;
        }
        const uint64_t refine = refine_blocks(d);
        if (++d.scans > kMaxScans || refine > refine_left) {
            failure = JPEG_DETAIL_PROGRESSION;
            break;
        }
        refine_left -= refine;
        const ScanKind kind = scan_kind(d);
        failure = check_tables(d, kind);
        if (failure != 0) {
            break;
        }
        d.bits.start(d.chunk);
        switch (kind) {
            case ScanKind::kSequential:
                failure = decode_scan<ScanKind::kSequential>(d);
                break;
            case ScanKind::kDcFirst:
                failure = decode_scan<ScanKind::kDcFirst>(d);
                break;
            case ScanKind::kDcRefine:
                failure = decode_scan<ScanKind::kDcRefine>(d);
                break;
            case ScanKind::kAcFirst:
                failure = decode_scan<ScanKind::kAcFirst>(d);
                break;
            case ScanKind::kAcRefine:
                failure = decode_scan<ScanKind::kAcRefine>(d);
                break;
        }
        d.pending_marker = d.bits.finish();
        if (failure != 0) {
            break;
        }
        const MarkerStop stop = marker_pass(d, PassMode::kBetweenScans);
        if (stop == MarkerStop::kEndOfImage) {
            break;
        }
        if (stop == MarkerStop::kFailed) {
            // The file ending between scans (or a bad segment) ends the
            // series: the picture is what the scans read make of it.
            failure = d.detail != 0 ? d.detail : JPEG_DETAIL_DATA_ENDED;
            break;
        }
    }
    if (output_stores(d, out) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    if (failure != 0) {
        d.detail = failure;
        return IMG_ERR_LZW;
    }
    d.detail = 0;
    return IMG_OK;
}

}  // namespace imaging::jpeg
