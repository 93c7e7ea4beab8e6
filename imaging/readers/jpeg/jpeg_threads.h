// Helper threads for the JPEG output stage.
//
// The entropy-coded data of a scan can only be decoded in order, on one
// thread; the output stage of an MCU row (inverse DCT, colour, storing) needs
// nothing but that row's coefficients. On a big picture the decoding thread
// therefore hands each decoded MCU row to helper threads through a ring of
// coefficient rows and goes on decoding; when every row of the ring is taken,
// it outputs a waiting row itself rather than wait, so the work balances
// whichever stage is slower. A progressive picture's rows, already decoded
// into its stores, go through the same ring without copying.
//
// Small pictures, or a machine of one core, get no helpers: the ring has one
// row, output by the decoding thread as it frees it. The helpers are started
// by start() and joined by finish() (or the destructor): none outlives the
// load. Rows handed over are output whatever happens to the decoding after.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "imaging/image.h"
#include "imaging/readers/jpeg/jpeg_output.h"

namespace imaging::jpeg {

// Pictures of fewer pixels to place are output by the decoding thread alone.
inline constexpr uint64_t kThreadedPixels = uint64_t{1} << 19;

// Helper threads worth starting for an output: the processor's other cores
// (at most 7) on pictures of at least kThreadedPixels, else none.
uint32_t helpers_for(const PictureOutput& out);

class RowPipeline {
  public:
    // Where the ring's coefficients live: rows of its own (decoded into) or
    // the caller's (pointed at).
    enum class Rows { kOwned, kViews };

    RowPipeline() = default;
    RowPipeline(const RowPipeline&) = delete;
    RowPipeline& operator=(const RowPipeline&) = delete;
    ~RowPipeline() { finish(); }

    // Allocates the ring and the planes, then starts up to `helpers` threads
    // (fewer when the system refuses more). Returns 0 or IMG_ERR_MEMORY.
    ImgStatus start(const PictureOutput& out, uint32_t helpers, Rows rows);

    // A free row to decode into, every coefficient 0 (or, for views, to point
    // at the caller's coefficients). Outputs waiting rows while none is free.
    CoefficientRow& next_free();

    // Hands the row last returned by next_free over for output: MCU row
    // mcu_row, of which the picture columns [0, columns) were decoded.
    void hand_over(uint32_t mcu_row, uint32_t columns);

    // Outputs every row handed over and joins the helpers.
    void finish();

    uint32_t helpers() const { return thread_count_; }

  private:
    static constexpr uint32_t kMaxHelpers = 7;
    static constexpr uint32_t kMaxSlots = kMaxHelpers + 3;

    enum class State { kFree, kFilling, kWaiting, kOutputting };
    struct Slot {
        CoefficientRow row;
        std::unique_ptr<uint8_t[]> memory;
        State state = State::kFree;
        uint32_t mcu_row = 0;
        uint32_t columns = 0;
    };

    ImgStatus allocate_rows(Slot& slot) const;
    // The waiting slot of the lowest MCU row, or null. Called with mutex_ held.
    Slot* first_waiting();
    // Outputs a slot claimed by the calling thread and frees it; `lock` is
    // released meanwhile.
    void output(Slot& slot, OutputScratch& scratch, std::unique_lock<std::mutex>& lock);
    void helper_loop(uint32_t index);

    const PictureOutput* out_ = nullptr;
    bool owned_ = false;  // Rows::kOwned
    Slot slots_[kMaxSlots];
    uint32_t slot_count_ = 0;
    Slot* filling_ = nullptr;                 // the decoding thread's row
    OutputScratch scratch_[kMaxHelpers + 1];  // [0] the decoding thread's
    std::thread threads_[kMaxHelpers];
    uint32_t thread_count_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;  // a slot changed state, or finishing_ was set
    bool finishing_ = false;
};

}  // namespace imaging::jpeg
