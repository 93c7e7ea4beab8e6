// Helper threads for the JPEG output stage (see jpeg_threads.h).

#include "imaging/readers/jpeg/jpeg_threads.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace imaging::jpeg {

uint32_t helpers_for(const PictureOutput& out) {
    if (out.pixels_to_place() < kThreadedPixels) {
        return 0;
    }
    const uint32_t cores = std::thread::hardware_concurrency();  // 0 when not known
    return std::min(cores > 1 ? cores - 1 : 0, uint32_t{7});
}

ImgStatus RowPipeline::allocate_rows(Slot& slot) const {
    // Per component: v rows of row_blocks blocks of 64 coefficients, and a
    // byte per block. Blocks across are at most 4 x 4096, block rows 4.
    size_t blocks[3] = {};
    size_t total = 0;
    for (uint32_t c = 0; c < out_->components(); ++c) {
        blocks[c] = size_t{out_->row_blocks(c)} * out_->block_rows(c);
        total += blocks[c] * (64 * sizeof(int16_t) + 1);
    }
    slot.memory.reset(new (std::nothrow) uint8_t[total + 1]());  // coefficients 0
    if (!slot.memory) {
        return IMG_ERR_MEMORY;
    }
    // The coefficients first (2-byte aligned: the block is allocated aligned
    // for any type), then the bytes per block.
    uint8_t* p = slot.memory.get();
    for (uint32_t c = 0; c < out_->components(); ++c) {
        slot.row.blocks[c] = reinterpret_cast<int16_t*>(p);
        p += blocks[c] * 64 * sizeof(int16_t);
    }
    for (uint32_t c = 0; c < out_->components(); ++c) {
        slot.row.last[c] = p;
        p += blocks[c];
    }
    return IMG_OK;
}

ImgStatus RowPipeline::start(const PictureOutput& out, uint32_t helpers, Rows rows) {
    out_ = &out;
    owned_ = rows == Rows::kOwned;
    helpers = std::min(helpers, kMaxHelpers);
    slot_count_ = helpers == 0 ? 1 : helpers + 3;
    for (uint32_t i = 0; i < slot_count_; ++i) {
        if (rows == Rows::kOwned && allocate_rows(slots_[i]) != IMG_OK) {
            return IMG_ERR_MEMORY;
        }
    }
    if (out.make_scratch(scratch_[0]) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    for (uint32_t i = 0; i < helpers; ++i) {
        if (out.make_scratch(scratch_[i + 1]) != IMG_OK) {
            break;  // fewer helpers
        }
        try {
            threads_[i] = std::thread(&RowPipeline::helper_loop, this, i + 1);
        } catch (const std::system_error&) {
            break;  // the system refuses more threads: fewer helpers
        }
        ++thread_count_;
    }
    return IMG_OK;
}

RowPipeline::Slot* RowPipeline::first_waiting() {
    Slot* first = nullptr;
    for (uint32_t i = 0; i < slot_count_; ++i) {
        Slot& s = slots_[i];
        if (s.state == State::kWaiting && (first == nullptr || s.mcu_row < first->mcu_row)) {
            first = &s;
        }
    }
    return first;
}

void RowPipeline::output(Slot& slot, OutputScratch& scratch, std::unique_lock<std::mutex>& lock) {
    slot.state = State::kOutputting;
    lock.unlock();
    out_->output_row(slot.row, slot.mcu_row, slot.columns, scratch);
    if (owned_) {
        // Rows of our own go back with every coefficient 0, as the decoder
        // wants its blocks (while the row is still in this core's cache).
        for (uint32_t c = 0; c < out_->components(); ++c) {
            std::memset(slot.row.blocks[c], 0,
                        size_t{out_->row_blocks(c)} * out_->block_rows(c) * 64 * sizeof(int16_t));
        }
    }
    lock.lock();
    slot.state = State::kFree;
    changed_.notify_all();
}

CoefficientRow& RowPipeline::next_free() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        for (uint32_t i = 0; i < slot_count_; ++i) {
            if (slots_[i].state == State::kFree) {
                filling_ = &slots_[i];
                filling_->state = State::kFilling;
                return filling_->row;
            }
        }
        if (Slot* waiting = first_waiting()) {
            output(*waiting, scratch_[0], lock);
        } else {
            changed_.wait(lock);  // the helpers are outputting every row
        }
    }
}

void RowPipeline::hand_over(uint32_t mcu_row, uint32_t columns) {
    std::lock_guard<std::mutex> lock(mutex_);
    filling_->mcu_row = mcu_row;
    filling_->columns = columns;
    filling_->state = State::kWaiting;
    filling_ = nullptr;
    changed_.notify_all();
}

void RowPipeline::helper_loop(uint32_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (Slot* waiting = first_waiting()) {
            output(*waiting, scratch_[index], lock);
        } else if (finishing_) {
            return;
        } else {
            changed_.wait(lock);
        }
    }
}

void RowPipeline::finish() {
    if (out_ == nullptr) {
        return;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        finishing_ = true;
        changed_.notify_all();
        while (Slot* waiting = first_waiting()) {
            output(*waiting, scratch_[0], lock);
        }
    }
    for (uint32_t i = 0; i < thread_count_; ++i) {
        threads_[i].join();
    }
    thread_count_ = 0;
    out_ = nullptr;
}

}  // namespace imaging::jpeg
