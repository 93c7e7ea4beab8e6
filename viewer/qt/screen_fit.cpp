#include "viewer/qt/screen_fit.h"

#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace viewer {

namespace {

// How long after show() a frame that appears is still fitted (a loaded machine
// may take seconds); without a window manager no frame ever comes.
constexpr int kFrameWaitMs = 10000;

// Fits the window once, as soon as it has a frame around it.
class FrameWatcher : public QObject {
  public:
    explicit FrameWatcher(QWidget& window) : QObject(&window), window_(window) {
        window.installEventFilter(this);
        QTimer::singleShot(kFrameWaitMs, this, &QObject::deleteLater);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool placed = event->type() == QEvent::Move || event->type() == QEvent::Resize ||
                            event->type() == QEvent::Show;
        if (watched == &window_ && placed && window_.frameGeometry() != window_.geometry()) {
            window_.removeEventFilter(this);
            // Fitting moves the window: not from inside its own move event.
            QTimer::singleShot(0, &window_,
                               [window = &window_] { fit_frame_into_screen(*window); });
            deleteLater();
        }
        return false;
    }

  private:
    QWidget& window_;
};

}  // namespace

void fit_frame_into_screen(QWidget& window) {
    if ((window.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) != 0) {
        return;
    }
    const QRect available = window.screen()->availableGeometry();
    const QRect outer = window.frameGeometry();
    const QRect inner = window.geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    const QSize room = available.size().shrunkBy(frame).expandedTo(window.minimumSize());
    if (window.width() > room.width() || window.height() > room.height()) {
        window.resize(window.size().boundedTo(room));
    }
    const QSize size = window.frameGeometry().size();
    const QPoint at(
        std::clamp(outer.left(), available.left(),
                   std::max(available.left(), available.left() + available.width() - size.width())),
        std::clamp(
            outer.top(), available.top(),
            std::max(available.top(), available.top() + available.height() - size.height())));
    if (at != outer.topLeft()) {
        window.move(at);  // a window's position is its frame's
    }
}

void show_within_screen(QWidget& window) {
    window.resize(window.size().boundedTo(window.screen()->availableGeometry().size()));
    new FrameWatcher(window);
    window.show();
    fit_frame_into_screen(window);
}

}  // namespace viewer
