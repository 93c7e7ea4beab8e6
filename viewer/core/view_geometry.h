// The arithmetic of the picture view: scroll steps, scroll ranges, the size a
// new child window takes for its picture, zoom and fit to window, and which
// picture pixel lies under the pointer. Kept free of any window system so it
// can be checked on its own.
#pragma once

#include <cstdint>

namespace viewer {

// What a scroll bar asks for.
enum class ScrollRequest {
    LineBack,       // arrow left / up
    LineForward,    // arrow right / down
    PageBack,       // click in the trough before the thumb
    PageForward,    // click in the trough after the thumb
    ThumbPosition,  // the thumb was released at `requested`
    ThumbTrack,     // the thumb is being dragged: the picture does not follow
    ToStart,
    ToEnd,
    Other,
};

// Change of the scroll position for a request, with `client` the client width
// (height for the vertical bar). Steps forward are one pixel longer than steps
// back: a line is client/16 + 1 forward and client/16 - 1 back, a page
// client/2 + 1 and client/2 - 1.
int32_t scroll_delta(ScrollRequest request, int32_t client, int32_t position, int32_t maximum,
                     int32_t requested);

// The new position for a change, kept within minimum..maximum.
int32_t scroll_clamp(int32_t position, int32_t delta, int32_t minimum, int32_t maximum);

// The largest scroll position for a picture extent shown in a client extent.
int32_t scroll_maximum(int32_t picture, int32_t client);

// A rectangle as edges, in screen coordinates for windows.
struct EdgeRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct FrameSize {
    int32_t width;
    int32_t height;
};

// The size of a new child window for a picture of picture_width x
// picture_height: `frame` is the child window's rectangle, `view` the view's,
// `client` the view's client area, and scroll_bar_width/height the size of a
// scroll bar. A picture that fits the client area gets a window that fits it
// with 12 pixels to spare; a larger one keeps the client size plus room for the
// scroll bar.
FrameSize child_frame_size(int32_t picture_width, int32_t picture_height, const EdgeRect& frame,
                           const EdgeRect& view, const EdgeRect& client, int32_t scroll_bar_width,
                           int32_t scroll_bar_height);

// Pixels one turn of the mouse wheel scrolls: for each notch (an angle of 120,
// in eighths of a degree) three lines of client/16 pixels, at least one pixel
// a line, the same amount in both directions. A turn away from the user
// (positive angle) scrolls back.
int32_t wheel_scroll_delta(int32_t angle, int32_t client);

// Zoom: the picture drawn at 2^exponent of its size, exponent kZoomMin..kZoomMax
// (1/8 to 16 times), each picture pixel a square of screen pixels or every
// 2^-exponent-th pixel shown.
inline constexpr int32_t kZoomMin = -3;
inline constexpr int32_t kZoomMax = 4;

// A picture extent as shown at the zoom (a part of a pixel counts whole).
int32_t zoomed_extent(int32_t extent, int32_t exponent);

// Where drawing starts for a scroll position at the zoom: the picture's first
// visible column (or row) and how many screen pixels of it lie before the
// client area's edge.
struct ZoomedStart {
    int32_t first;
    int32_t offset;
};
ZoomedStart zoomed_start(int32_t position, int32_t exponent);

// The scroll position that keeps the picture point at the middle of a client
// extent there when the zoom changes from `from` to `to`.
int32_t rezoomed_position(int32_t position, int32_t client, int32_t from, int32_t to);

// Fit to window: the picture scaled to the client area with its aspect kept,
// centred. `width` and `height` are at least 1; a client the picture exactly
// fills gives the picture's own size (scale 1).
struct PictureRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};
PictureRect fit_placement(int32_t picture_width, int32_t picture_height, int32_t client_width,
                          int32_t client_height);

// The picture pixel (column or row) under a client coordinate of a fitted
// picture placed at `start` with `shown` pixels for `extent` picture pixels;
// -1 outside the picture.
int32_t fitted_pixel(int32_t client, int32_t start, int32_t shown, int32_t extent);

// The picture pixel under a client coordinate of a zoomed view scrolled to
// `position` (the first picture pixel a reduced view's screen pixel covers);
// -1 outside the picture.
int32_t zoomed_pixel(int32_t client, int32_t position, int32_t exponent, int32_t extent);

// The zoom exponent one step in (`step` 1) or out (-1) from a fitted view's
// scale: the next power of two beyond it, kept within kZoomMin..kZoomMax.
int32_t zoom_after_fit(double scale, int32_t step);

}  // namespace viewer
