#include "view_geometry.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int32_t kSlack = 12;

}  // namespace

int32_t scroll_delta(ScrollRequest request, int32_t client, int32_t position, int32_t maximum,
                     int32_t requested) {
    switch (request) {
        case ScrollRequest::LineBack:
            return 1 - client / 16;
        case ScrollRequest::LineForward:
            return client / 16 + 1;
        case ScrollRequest::PageBack:
            return 1 - client / 2;
        case ScrollRequest::PageForward:
            return client / 2 + 1;
        case ScrollRequest::ThumbPosition:
            return requested - position;
        case ScrollRequest::ToStart:
            return -position;
        case ScrollRequest::ToEnd:
            return maximum - position;
        case ScrollRequest::ThumbTrack:
        case ScrollRequest::Other:
            break;
    }
    return 0;
}

int32_t scroll_clamp(int32_t position, int32_t delta, int32_t minimum, int32_t maximum) {
    const int64_t target = int64_t{position} + delta;
    return static_cast<int32_t>(std::clamp<int64_t>(target, minimum, maximum));
}

int32_t scroll_maximum(int32_t picture, int32_t client) {
    return std::max(0, picture - client);
}

FrameSize child_frame_size(int32_t picture_width, int32_t picture_height, const EdgeRect& frame,
                           const EdgeRect& view, const EdgeRect& client, int32_t scroll_bar_width,
                           int32_t scroll_bar_height) {
    // The view's edges against the frame's: what the frame adds around the view.
    const int32_t extra_width = -frame.right - frame.left + view.right + view.left;
    const int32_t extra_height = -frame.bottom - frame.top + view.bottom + view.top;
    FrameSize size{};
    size.width = picture_width <= client.right
                     ? picture_width + extra_width + kSlack
                     : client.right + extra_width + scroll_bar_width + kSlack;
    size.height = picture_height <= client.bottom
                      ? picture_height + extra_height + kSlack
                      : client.bottom + extra_height + scroll_bar_height + kSlack;
    return size;
}

int32_t wheel_scroll_delta(int32_t angle, int32_t client) {
    constexpr int64_t kLinesPerNotch = 3;
    constexpr int64_t kNotch = 120;
    const int64_t line = std::max<int32_t>(1, client / 16);
    const int64_t pixels = -int64_t{angle} * kLinesPerNotch * line / kNotch;
    return static_cast<int32_t>(std::clamp<int64_t>(pixels, INT32_MIN, INT32_MAX));
}

int32_t zoomed_extent(int32_t extent, int32_t exponent) {
    const int64_t value = exponent >= 0
                              ? int64_t{extent} << exponent
                              : (int64_t{extent} + (int64_t{1} << -exponent) - 1) >> -exponent;
    return static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX));
}

ZoomedStart zoomed_start(int32_t position, int32_t exponent) {
    if (exponent >= 0) {
        const int32_t first = position >> exponent;
        return ZoomedStart{first, position - (first << exponent)};
    }
    const int64_t first = int64_t{position} << -exponent;
    return ZoomedStart{static_cast<int32_t>(std::min<int64_t>(first, INT32_MAX)), 0};
}

int32_t rezoomed_position(int32_t position, int32_t client, int32_t from, int32_t to) {
    const int64_t middle = int64_t{position} + client / 2;
    const int64_t shifted = to >= from ? middle << (to - from) : middle >> (from - to);
    return static_cast<int32_t>(std::clamp<int64_t>(shifted - client / 2, 0, INT32_MAX));
}
