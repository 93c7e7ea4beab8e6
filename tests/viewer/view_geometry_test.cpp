#include "viewer/core/view_geometry.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace viewer;

namespace {

TEST(ScrollDelta, StepsForwardAreLongerThanStepsBack) {
    // Client width 160: a line is 160/16 = 10, so 11 forward and 9 back.
    EXPECT_EQ(scroll_delta(ScrollRequest::LineForward, 160, 50, 500, 0), 11);
    EXPECT_EQ(scroll_delta(ScrollRequest::LineBack, 160, 50, 500, 0), -9);
    EXPECT_EQ(scroll_delta(ScrollRequest::PageForward, 160, 50, 500, 0), 81);
    EXPECT_EQ(scroll_delta(ScrollRequest::PageBack, 160, 50, 500, 0), -79);
    // Small clients: 15 / 16 truncates to 0, so a step back does not move.
    EXPECT_EQ(scroll_delta(ScrollRequest::LineBack, 15, 50, 500, 0), 1);
    EXPECT_EQ(scroll_delta(ScrollRequest::LineForward, 15, 50, 500, 0), 1);
}

TEST(ScrollDelta, ThumbFollowsOnlyWhenReleased) {
    EXPECT_EQ(scroll_delta(ScrollRequest::ThumbTrack, 160, 50, 500, 300), 0);
    EXPECT_EQ(scroll_delta(ScrollRequest::ThumbPosition, 160, 50, 500, 300), 250);
    EXPECT_EQ(scroll_delta(ScrollRequest::ToStart, 160, 50, 500, 0), -50);
    EXPECT_EQ(scroll_delta(ScrollRequest::ToEnd, 160, 50, 500, 0), 450);
    EXPECT_EQ(scroll_delta(ScrollRequest::Other, 160, 50, 500, 0), 0);
}

TEST(ScrollClamp, StaysInRange) {
    EXPECT_EQ(scroll_clamp(5, -9, 0, 100), 0);
    EXPECT_EQ(scroll_clamp(95, 11, 0, 100), 100);
    EXPECT_EQ(scroll_clamp(50, 11, 0, 100), 61);
    EXPECT_EQ(scroll_clamp(INT32_MAX, INT32_MAX, 0, 7), 7);  // no overflow
}

TEST(ScrollMaximum, NoRangeWhenTheClientIsLarger) {
    EXPECT_EQ(scroll_maximum(100, 300), 0);
    EXPECT_EQ(scroll_maximum(300, 100), 200);
}

TEST(ChildFrameSize, FitsSmallPicturesAndKeepsTheSizeForLargeOnes) {
    // A frame with a 4-pixel border and a 20-pixel caption around a view whose
    // client area is 400 x 300.
    const EdgeRect frame{100, 100, 508, 424};
    const EdgeRect view{104, 120, 504, 420};
    const EdgeRect client{0, 0, 400, 300};
    const FrameSize small = child_frame_size(100, 80, frame, view, client, 16, 16);
    EXPECT_EQ(small.width, 100 - 508 - 100 + 504 + 104 + 12);
    EXPECT_EQ(small.height, 80 - 424 - 100 + 420 + 120 + 12);
    const FrameSize large = child_frame_size(1000, 800, frame, view, client, 16, 16);
    EXPECT_EQ(large.width, 400 - 508 - 100 + 504 + 104 + 16 + 12);
    EXPECT_EQ(large.height, 300 - 424 - 100 + 420 + 120 + 16 + 12);
}

TEST(FitPlacement, KeepsTheAspectAndCentres) {
    struct Row {
        int32_t picture_width, picture_height, client_width, client_height;
        PictureRect expected;
    };
    const Row rows[] = {
        {1000, 500, 400, 400, {0, 100, 400, 200}},  // width limits
        {133, 65, 133, 65, {0, 0, 133, 65}},        // exactly filled: its own size
        {16, 16, 180, 16, {82, 0, 16, 16}},         // wide window of a tiny picture
        {10, 10, 95, 300, {0, 102, 95, 95}},        // enlarged
        {3000, 1, 100, 100, {0, 49, 100, 1}},       // never thinner than a pixel
    };
    for (const Row& r : rows) {
        const PictureRect got =
            fit_placement(r.picture_width, r.picture_height, r.client_width, r.client_height);
        EXPECT_EQ(std::tie(got.x, got.y, got.width, got.height),
                  std::tie(r.expected.x, r.expected.y, r.expected.width, r.expected.height))
            << r.picture_width << " x " << r.picture_height;
    }
}

TEST(PointerPixel, FittedAndZoomedViews) {
    // 200 picture pixels shown on 100 screen pixels from x = 10; 10 on 95.
    EXPECT_EQ(fitted_pixel(109, 10, 100, 200), 198);
    EXPECT_EQ(fitted_pixel(110, 10, 100, 200), -1);
    EXPECT_EQ(fitted_pixel(94, 0, 95, 10), 9);
    // Zoomed in four times, scrolled by 6: client 0 is picture pixel 1.
    EXPECT_EQ(zoomed_pixel(0, 6, 2, 133), 1);
    // Reduced to 1/8: each screen pixel starts eight picture pixels further.
    EXPECT_EQ(zoomed_pixel(3, 1, -3, 100), 32);
    EXPECT_EQ(zoomed_pixel(13, 0, -3, 100), -1);
}

TEST(ZoomAfterFit, StepsToThePowerOfTwoBeyondTheScale) {
    EXPECT_EQ(zoom_after_fit(0.37, 1), -1);   // 37 % -> 50 %
    EXPECT_EQ(zoom_after_fit(0.37, -1), -2);  // -> 25 %
    EXPECT_EQ(zoom_after_fit(1.0, 1), 1);     // a power of two steps on
    EXPECT_EQ(zoom_after_fit(40.0, 1), kZoomMax);
}

}  // namespace
