// Keeping a top-level window on its screen, frame included.
//
// The window manager's frame (title bar and borders) is known only once the
// manager has framed the shown window, some time after show() returns; a size
// chosen before that leaves the frame's height out and the bottom edge below
// the screen. So the window is fitted when shown and again when its frame
// first appears.
#pragma once

class QWidget;

namespace viewer {

// Shows `window`, no larger than its screen's available area, and fits it
// again, frame and all, into that area once the window manager has framed it.
void show_within_screen(QWidget& window);

// Shrinks and moves a shown window so that its frame lies inside its screen's
// available area. A maximised or full-screen window is left as it is.
void fit_frame_into_screen(QWidget& window);

}  // namespace viewer
