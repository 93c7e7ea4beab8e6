#include "imaging/parallel.h"

namespace imaging {

namespace {

// The limit a ThreadLimit set on this thread; 0 when none.
thread_local uint32_t t_part_limit = 0;

}  // namespace

uint32_t parallel_parts(uint64_t pixels) {
    if (t_part_limit != 0) {
        return std::min(t_part_limit, kMaxParts);
    }
    if (pixels < kParallelPixels) {
        return 1;
    }
    const uint32_t cores = std::thread::hardware_concurrency();
    return std::clamp<uint32_t>(cores, 1, kMaxParts);
}

ThreadLimit::ThreadLimit(uint32_t parts) : saved_(t_part_limit) {
    t_part_limit = std::max<uint32_t>(parts, 1);
}

ThreadLimit::~ThreadLimit() {
    t_part_limit = saved_;
}

}  // namespace imaging
