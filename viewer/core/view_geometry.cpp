#include "viewer/core/view_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace viewer {

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

PictureRect fit_placement(int32_t picture_width, int32_t picture_height, int32_t client_width,
                          int32_t client_height) {
    const int64_t pw = std::max(picture_width, 1);
    const int64_t ph = std::max(picture_height, 1);
    const int64_t cw = std::max(client_width, 1);
    const int64_t ch = std::max(client_height, 1);
    // The scale is the smaller of cw / pw and ch / ph; compare the products so
    // that a client the picture exactly fills gives its own size.
    int64_t width = cw;
    int64_t height = ch;
    if (cw * ph <= ch * pw) {
        height = std::max<int64_t>(1, (ph * cw + pw / 2) / pw);
    } else {
        width = std::max<int64_t>(1, (pw * ch + ph / 2) / ph);
    }
    return PictureRect{static_cast<int32_t>((cw - width) / 2),
                       static_cast<int32_t>((ch - height) / 2), static_cast<int32_t>(width),
                       static_cast<int32_t>(height)};
}

int32_t fitted_pixel(int32_t client, int32_t start, int32_t shown, int32_t extent) {
    const int64_t offset = int64_t{client} - start;
    if (offset < 0 || offset >= shown || shown <= 0) {
        return -1;
    }
    return static_cast<int32_t>(offset * extent / shown);
}

int32_t zoomed_pixel(int32_t client, int32_t position, int32_t exponent, int32_t extent) {
    const int64_t content = int64_t{client} + position;
    if (content < 0) {
        return -1;
    }
    const int64_t pixel = exponent >= 0 ? content >> exponent : content << -exponent;
    return pixel < extent ? static_cast<int32_t>(pixel) : -1;
}

int32_t zoom_after_fit(double scale, int32_t step) {
    const double exponent = std::log2(scale);
    // A scale that is a power of two already steps to the next one.
    const double next = step > 0 ? std::floor(exponent) + 1 : std::ceil(exponent) - 1;
    return static_cast<int32_t>(std::clamp<double>(next, kZoomMin, kZoomMax));
}

}  // namespace viewer
