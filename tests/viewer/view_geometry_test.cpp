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

}  // namespace
