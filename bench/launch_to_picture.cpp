// Launch to picture: the wall time from starting a viewer to the moment its
// window shows the picture, as a user sees it. The picture carries a marker, a
// square of pure magenta near its top-left corner; the screen (an X display,
// normally Xvfb) is read every millisecond or so until a grid of samples finds
// the marker, then the viewer is ended.
//
//   launch_to_picture TIMEOUT_MS COMMAND [ARG...]
//
// Prints the milliseconds to the marker and exits 0, or prints "timeout" and
// exits 1. The screen must not show magenta before the viewer starts.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Samples every kStride-th pixel of every kStride-th row: the marker is far
// larger than the grid, so it cannot fall between samples.
constexpr int kStride = 8;
// Samples that must be magenta: JPEG blurs the marker's edges, not its middle.
constexpr int kMarkerSamples = 16;

bool magenta(unsigned long pixel, const XImage& image) {
    const auto channel = [&](unsigned long mask) {
        int shift = 0;
        while (mask != 0 && (mask & 1) == 0) {
            mask >>= 1;
            ++shift;
        }
        return static_cast<int>((pixel >> shift) & mask);
    };
    const int red = channel(image.red_mask);
    const int green = channel(image.green_mask);
    const int blue = channel(image.blue_mask);
    return red > 200 && blue > 200 && green < 60;
}

bool marker_shown(Display* display, Window root, int width, int height) {
    XImage* image = XGetImage(display, root, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return false;
    }
    int found = 0;
    for (int y = 0; y < height && found < kMarkerSamples; y += kStride) {
        for (int x = 0; x < width && found < kMarkerSamples; x += kStride) {
            if (magenta(XGetPixel(image, x, y), *image)) {
                ++found;
            }
        }
    }
    XDestroyImage(image);
    return found >= kMarkerSamples;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: launch_to_picture TIMEOUT_MS COMMAND [ARG...]\n");
        return 2;
    }
    const auto timeout = std::chrono::milliseconds(std::atol(argv[1]));
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "launch_to_picture: no X display\n");
        return 2;
    }
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, root, &attributes);
    if (marker_shown(display, root, attributes.width, attributes.height)) {
        std::fprintf(stderr, "launch_to_picture: the screen shows the marker already\n");
        return 2;
    }

    const Clock::time_point start = Clock::now();
    const pid_t viewer = fork();
    if (viewer == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    bool shown = false;
    Clock::duration elapsed{};
    while (!shown && (elapsed = Clock::now() - start) < timeout) {
        shown = marker_shown(display, root, attributes.width, attributes.height);
        if (!shown) {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
    kill(viewer, SIGTERM);
    waitpid(viewer, nullptr, 0);
    XCloseDisplay(display);
    if (!shown) {
        std::printf("timeout\n");
        return 1;
    }
    std::printf("%.1f\n", std::chrono::duration<double, std::milli>(elapsed).count());
    return 0;
}
