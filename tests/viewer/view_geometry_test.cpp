#include "view_geometry.h"

#include <gtest/gtest.h>

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

TEST(WheelScrollDelta, SameAmountBothWays) {
    EXPECT_EQ(wheel_scroll_delta(-120, 160), 30);
    EXPECT_EQ(wheel_scroll_delta(120, 160), -30);
    EXPECT_EQ(wheel_scroll_delta(-240, 10), 6);  // at least a pixel a line
}

TEST(Zoom, ExtentsStartsAndTheKeptMiddle) {
    EXPECT_EQ(zoomed_extent(133, 4), 2128);
    EXPECT_EQ(zoomed_extent(133, -3), 17);  // a part of a pixel counts whole
    EXPECT_EQ(zoomed_start(6, 2).first, 1);
    EXPECT_EQ(zoomed_start(6, 2).offset, 2);
    EXPECT_EQ(zoomed_start(5, -3).first, 40);
    EXPECT_EQ(zoomed_start(5, -3).offset, 0);
    EXPECT_EQ(rezoomed_position(100, 200, 0, 1), 300);  // middle 200 -> 400
    EXPECT_EQ(rezoomed_position(300, 200, 1, 0), 100);
    EXPECT_EQ(rezoomed_position(0, 200, 1, 0), 0);  // never before the start
}

}  // namespace
