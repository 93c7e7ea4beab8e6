#include "pelora_view.h"

#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "qt_display_surface.h"

using namespace imaging;

namespace {

// Setting ranges can resize the client area and so come back into the range
// update: one flag, shared by all views, keeps it from running twice at once.
bool g_updating_ranges = false;

// Wheel angle of one notch, in eighths of a degree.
constexpr int kWheelNotch = 120;

EdgeRect edges_of(const QWidget& widget) {
    const QRect r(widget.mapToGlobal(QPoint(0, 0)), widget.size());
    return EdgeRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

}  // namespace

CPeloraView::CPeloraView(std::shared_ptr<DocumentObject> document, QWidget* parent)
    : QAbstractScrollArea(parent), document_(std::move(document)) {
    setFocusPolicy(Qt::StrongFocus);
    for (Qt::Orientation orientation : {Qt::Horizontal, Qt::Vertical}) {
        QScrollBar* scroll_bar = bar(orientation);
        // The picture follows the thumb only when it is released.
        scroll_bar->setTracking(false);
        connect(scroll_bar, &QScrollBar::actionTriggered, this,
                [this, orientation](int action) { on_scroll_action(orientation, action); });
        // The wheel over a bar scrolls as much as over the picture.
        scroll_bar->installEventFilter(this);
    }
    connect(document_.get(), &DocumentObject::pictureChanged, this, &CPeloraView::picture_changed);
}

CPeloraView::~CPeloraView() {
    QtDisplaySurface::release_palette(display_object_);
}

QScrollBar* CPeloraView::bar(Qt::Orientation orientation) const {
    return orientation == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
}

int CPeloraView::client_extent(Qt::Orientation orientation) const {
    return orientation == Qt::Horizontal ? viewport()->width() : viewport()->height();
}

void CPeloraView::initial_update(QMdiSubWindow* frame) {
    const int scroll_bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const QRect client = viewport()->rect();
    const FrameSize size = child_frame_size(
        document_->document().width(), document_->document().height(), edges_of(*frame),
        edges_of(*this), EdgeRect{0, 0, client.width(), client.height()}, scroll_bar, scroll_bar);
    frame->resize(size.width, size.height);
    update_scroll_ranges();
}

void CPeloraView::update_scroll_ranges() {
    if (g_updating_ranges) {
        return;
    }
    g_updating_ranges = true;
    const ImageDesc& picture = document_->image();
    // The second pass corrects for scroll bars that the first one showed or hid.
    for (int pass = 0; pass < 2; ++pass) {
        const QSize client = viewport()->size();
        const int horizontal_max =
            scroll_maximum(zoomed_extent(image_width(picture), zoom_), client.width());
        const int vertical_max =
            scroll_maximum(zoomed_extent(image_height(picture), zoom_), client.height());
        const bool beyond = horizontalScrollBar()->value() > horizontal_max ||
                            verticalScrollBar()->value() > vertical_max;
        horizontalScrollBar()->setRange(0, horizontal_max);
        verticalScrollBar()->setRange(0, vertical_max);
        horizontalScrollBar()->setPageStep(std::max(1, client.width()));
        verticalScrollBar()->setPageStep(std::max(1, client.height()));
        if (beyond) {
            viewport()->update();
        }
    }
    g_updating_ranges = false;
}

void CPeloraView::on_scroll_action(Qt::Orientation orientation, int action) {
    QScrollBar* scroll_bar = bar(orientation);
    ScrollRequest request = ScrollRequest::Other;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            request = ScrollRequest::LineBack;
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            request = ScrollRequest::LineForward;
            break;
        case QAbstractSlider::SliderPageStepSub:
            request = ScrollRequest::PageBack;
            break;
        case QAbstractSlider::SliderPageStepAdd:
            request = ScrollRequest::PageForward;
            break;
        case QAbstractSlider::SliderToMinimum:
            request = ScrollRequest::ToStart;
            break;
        case QAbstractSlider::SliderToMaximum:
            request = ScrollRequest::ToEnd;
            break;
        case QAbstractSlider::SliderMove:
            // Without tracking the bar reports a move only once the thumb is
            // released (or the wheel turned over the bar itself).
            request = scroll_bar->isSliderDown() ? ScrollRequest::ThumbTrack
                                                 : ScrollRequest::ThumbPosition;
            break;
        default:
            break;
    }
    // The bar has already moved its slider by its own step; the value is still
    // the old position. Put the slider where our arithmetic says.
    const int position = scroll_bar->value();
    const int delta = scroll_delta(request, client_extent(orientation), position,
                                   scroll_bar->maximum(), scroll_bar->sliderPosition());
    scroll_bar->setSliderPosition(
        scroll_clamp(position, delta, scroll_bar->minimum(), scroll_bar->maximum()));
}

void CPeloraView::scroll(Qt::Orientation orientation, ScrollRequest request, int requested) {
    QScrollBar* scroll_bar = bar(orientation);
    const int position = scroll_bar->value();
    const int delta = scroll_delta(request, client_extent(orientation), position,
                                   scroll_bar->maximum(), requested);
    const int target = scroll_clamp(position, delta, scroll_bar->minimum(), scroll_bar->maximum());
    if (target != position) {
        scroll_bar->setValue(target);  // scrollContentsBy moves the picture
    }
}

void CPeloraView::scrollContentsBy(int dx, int dy) {
    viewport()->scroll(dx, dy);
}

void CPeloraView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(viewport());
    QtDisplaySurface::release_palette(display_object_);
    display_object_ = nullptr;
    if (zoom_ != 0) {
        paint_zoomed(painter);
        return;
    }
    QtDisplaySurface surface(painter, *viewport());
    image_display(surface, &display_object_, horizontalScrollBar()->value(),
                  verticalScrollBar()->value(), document_->picture_for_display(), 0, 0,
                  display_mode_);
}

void CPeloraView::paint_zoomed(QPainter& painter) {
    // The painter maps picture pixels to screen squares (or every few picture
    // pixels to one screen pixel); the display draws the picture from the first
    // visible pixel on, into a client area measured in picture pixels.
    const ZoomedStart x = zoomed_start(horizontalScrollBar()->value(), zoom_);
    const ZoomedStart y = zoomed_start(verticalScrollBar()->value(), zoom_);
    const double scale = std::ldexp(1.0, zoom_);
    painter.translate(-x.offset, -y.offset);
    painter.scale(scale, scale);
    const int client_width = static_cast<int>(std::ceil((viewport()->width() + x.offset) / scale));
    const int client_height =
        static_cast<int>(std::ceil((viewport()->height() + y.offset) / scale));
    QtDisplaySurface surface(painter, *viewport(), ClientSize{client_width, client_height});
    image_display(surface, &display_object_, x.first, y.first, document_->picture_for_display(), 0,
                  0, display_mode_);
}

void CPeloraView::set_zoom(int exponent) {
    exponent = std::clamp(exponent, kZoomMin, kZoomMax);
    if (exponent == zoom_) {
        return;
    }
    const int horizontal =
        rezoomed_position(horizontalScrollBar()->value(), viewport()->width(), zoom_, exponent);
    const int vertical =
        rezoomed_position(verticalScrollBar()->value(), viewport()->height(), zoom_, exponent);
    zoom_ = exponent;
    update_scroll_ranges();
    horizontalScrollBar()->setValue(horizontal);
    verticalScrollBar()->setValue(vertical);
    viewport()->update();
    emit zoomChanged(zoom_);
}

void CPeloraView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    update_scroll_ranges();
}

void CPeloraView::wheelEvent(QWheelEvent* event) {
    turn_wheel(event, Qt::Vertical);
}

bool CPeloraView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel &&
        (watched == horizontalScrollBar() || watched == verticalScrollBar())) {
        turn_wheel(static_cast<QWheelEvent*>(event),
                   watched == horizontalScrollBar() ? Qt::Horizontal : Qt::Vertical);
        return true;
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void CPeloraView::turn_wheel(QWheelEvent* event, Qt::Orientation along) {
    event->accept();
    const QPoint angle = event->angleDelta();
    if ((event->modifiers() & Qt::ControlModifier) != 0) {
        // One zoom step per notch; a fine-grained wheel gathers its turns.
        zoom_wheel_ += angle.y();
        while (std::abs(zoom_wheel_) >= kWheelNotch) {
            const int step = zoom_wheel_ > 0 ? 1 : -1;
            zoom_wheel_ -= step * kWheelNotch;
            set_zoom(zoom_ + step);
        }
        return;
    }
    const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    const Qt::Orientation vertical_turn = shift ? Qt::Horizontal : along;
    const auto move = [this](Qt::Orientation orientation, int turn) {
        QScrollBar* scroll_bar = bar(orientation);
        const int delta = wheel_scroll_delta(turn, client_extent(orientation));
        scroll_bar->setValue(
            scroll_clamp(scroll_bar->value(), delta, scroll_bar->minimum(), scroll_bar->maximum()));
    };
    move(vertical_turn, angle.y());
    move(Qt::Horizontal, angle.x());
}

void CPeloraView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
            scroll(Qt::Horizontal, ScrollRequest::LineBack);
            break;
        case Qt::Key_Right:
            scroll(Qt::Horizontal, ScrollRequest::LineForward);
            break;
        case Qt::Key_Up:
            scroll(Qt::Vertical, ScrollRequest::LineBack);
            break;
        case Qt::Key_Down:
            scroll(Qt::Vertical, ScrollRequest::LineForward);
            break;
        case Qt::Key_PageUp:
            scroll(Qt::Vertical, ScrollRequest::PageBack);
            break;
        case Qt::Key_PageDown:
            scroll(Qt::Vertical, ScrollRequest::PageForward);
            break;
        case Qt::Key_Home:
            scroll(Qt::Vertical, ScrollRequest::ToStart);
            break;
        case Qt::Key_End:
            scroll(Qt::Vertical, ScrollRequest::ToEnd);
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
    }
    event->accept();
}

void CPeloraView::run_command(PictureCommand command) {
    document_->run_command(command);
    last_status_ = document_->last_status();
}

void CPeloraView::picture_changed() {
    update_scroll_ranges();
    viewport()->update();
}
