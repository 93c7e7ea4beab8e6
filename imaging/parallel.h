// Splitting one call's work over the machine's cores.
//
// A big picture's rows are cut into parts that threads work on at once; the
// calling thread takes part 0 and waits for the others, so no thread outlives
// the call. Small pictures stay on the calling thread: below kParallelPixels
// the cost of starting a thread is not won back. Where a thread cannot be
// started, its part runs on the calling thread after the others: the result
// never depends on how many threads ran.
//
// Internal to the imaging library.
#pragma once

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace imaging {

// Pixels from which a picture's work is split.
inline constexpr uint64_t kParallelPixels = uint64_t{1} << 20;
// The most parts a call's work is cut into.
inline constexpr uint32_t kMaxParts = 8;

// The parts for `pixels` of work: 1 for small pictures, else the cores the
// machine has (at most kMaxParts), or the limit a ThreadLimit set on this
// thread.
uint32_t parallel_parts(uint64_t pixels);

// Sets, for the calls made on the creating thread while it lives, how many
// parts big pictures are cut into (tests use it to compare one part with
// several on any machine).
class ThreadLimit {
  public:
    explicit ThreadLimit(uint32_t parts);
    ~ThreadLimit();
    ThreadLimit(const ThreadLimit&) = delete;
    ThreadLimit& operator=(const ThreadLimit&) = delete;

  private:
    uint32_t saved_;
};

// Runs work(k) for every part k < parts, part 0 on the calling thread, and
// returns once all have finished.
template <typename Work>
void run_parts(uint32_t parts, Work&& work) {
    std::vector<std::thread> helpers;
    uint32_t started = 1;
    try {
        helpers.reserve(parts > 0 ? parts - 1 : 0);
        for (; started < parts; ++started) {
            helpers.emplace_back([&work, started] { work(started); });
        }
    } catch (const std::exception&) {
        // No thread (or no memory for one): the rest runs here.
    }
    work(0);
    for (uint32_t k = started; k < parts; ++k) {
        work(k);
    }
    for (std::thread& helper : helpers) {
        helper.join();
    }
}

// Runs work(first, end, k) for the bands k < parts of nearly equal size that
// `count` rows are cut into (fewer parts when there are fewer rows).
template <typename Work>
void run_row_bands(uint32_t count, uint32_t parts, Work&& work) {
    parts = std::max<uint32_t>(1, std::min(parts, count));
    run_parts(parts, [&](uint32_t k) {
        const auto first = static_cast<uint32_t>(uint64_t{count} * k / parts);
        const auto end = static_cast<uint32_t>(uint64_t{count} * (k + 1) / parts);
        work(first, end, k);
    });
}

}  // namespace imaging
