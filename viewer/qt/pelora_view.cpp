#include "viewer/qt/pelora_view.h"

#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "viewer/qt/qt_display_surface.h"

using namespace imaging;

namespace viewer {

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
    viewport()->setMouseTracking(true);  // the pointer's pixel, without a button down
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

void CPeloraView::set_document(std::shared_ptr<DocumentObject> document) {
    disconnect(document_.get(), nullptr, this, nullptr);
    document_ = std::move(document);
    connect(document_.get(), &DocumentObject::pictureChanged, this, &CPeloraView::picture_changed);
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    picture_changed();
}

void CPeloraView::initial_update(QMdiSubWindow* frame) {
    // The picture as it is now: as allocated (at least 16 x 16), and after a
    // Resize its new size; as shown at the zoom, or at its own size when fitted.
    const ImageDesc& picture = document_->image();
    const QSize shown = fit_ ? QSize(image_width(picture), image_height(picture))
                             : QSize(zoomed_extent(image_width(picture), zoom_),
                                     zoomed_extent(image_height(picture), zoom_));
    const int scroll_bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const QRect client = viewport()->rect();
    const FrameSize size =
        child_frame_size(shown.width(), shown.height(), edges_of(*frame), edges_of(*this),
                         EdgeRect{0, 0, client.width(), client.height()}, scroll_bar, scroll_bar);
    frame->resize(size.width, size.height);
    update_scroll_ranges();

    // The size's slack does not always cover the frame's borders: a picture
    // that fits gets what its client area still lacks, so that it shows whole
    // without scroll bars; a fitted one gets exactly its size (scale 1).
    QSize now = viewport()->size();
    now += QSize(verticalScrollBar()->isVisibleTo(this) ? scroll_bar : 0,
                 horizontalScrollBar()->isVisibleTo(this) ? scroll_bar : 0);
    const auto lack = [this](int picture_extent, int client_extent, int now_extent) {
        if (picture_extent > client_extent) {
            return 0;  // a larger picture keeps the window's size and scrolls
        }
        return fit_ ? picture_extent - now_extent : std::max(0, picture_extent - now_extent);
    };
    const QSize add(lack(shown.width(), client.width(), now.width()),
                    lack(shown.height(), client.height(), now.height()));
    if (!add.isNull()) {
        frame->resize(frame->size() + add);
        update_scroll_ranges();
    }
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
        // A fitted picture is shown whole: nothing to scroll.
        const int horizontal_max =
            fit_ ? 0 : scroll_maximum(zoomed_extent(image_width(picture), zoom_), client.width());
        const int vertical_max =
            fit_ ? 0 : scroll_maximum(zoomed_extent(image_height(picture), zoom_), client.height());
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
    update_cursor();
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
    if (fit_) {
        paint_scaled(painter, fitted_rect());
        return;
    }
    if (zoom_ < 0) {
        const ImageDesc& picture = document_->image();
        paint_scaled(painter, QRect(-horizontalScrollBar()->value(), -verticalScrollBar()->value(),
                                    zoomed_extent(image_width(picture), zoom_),
                                    zoomed_extent(image_height(picture), zoom_)));
        return;
    }
    if (zoom_ > 0) {
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

void CPeloraView::paint_scaled(QPainter& painter, const QRect& target) {
    // Scaled once to the device pixels it covers, then drawn as it is until
    // the picture, the zoom or the window's size changes. Fewer device pixels
    // than picture pixels average them; more repeat each one.
    const qreal ratio = viewport()->devicePixelRatioF();
    const QSize device(qRound(target.width() * ratio), qRound(target.height() * ratio));
    if (scaled_.size() != device) {
        const bool smooth = device.width() < image_width(document_->image());
        scaled_ = QtDisplaySurface::scaled_picture(document_->image(), device, smooth);
        scaled_.setDevicePixelRatio(ratio);
    }
    painter.drawImage(target.topLeft(), scaled_);
}

QRect CPeloraView::fitted_rect() const {
    const ImageDesc& picture = document_->image();
    const PictureRect rect = fit_placement(image_width(picture), image_height(picture),
                                           viewport()->width(), viewport()->height());
    return QRect(rect.x, rect.y, rect.width, rect.height);
}

double CPeloraView::shown_scale() const {
    if (fit_) {
        return double(fitted_rect().width()) / std::max(1, image_width(document_->image()));
    }
    return std::ldexp(1.0, zoom_);
}

QPoint CPeloraView::picture_pixel_at(QPoint client) const {
    const ImageDesc& picture = document_->image();
    int x = -1;
    int y = -1;
    if (fit_) {
        const QRect rect = fitted_rect();
        x = fitted_pixel(client.x(), rect.x(), rect.width(), image_width(picture));
        y = fitted_pixel(client.y(), rect.y(), rect.height(), image_height(picture));
    } else {
        x = zoomed_pixel(client.x(), horizontalScrollBar()->value(), zoom_, image_width(picture));
        y = zoomed_pixel(client.y(), verticalScrollBar()->value(), zoom_, image_height(picture));
    }
    return x < 0 || y < 0 ? QPoint(-1, -1) : QPoint(x, y);
}

void CPeloraView::set_fit(bool fit) {
    if (fit == fit_) {
        return;
    }
    // Leaving fit to window shows the picture at its own size again.
    fit_ = fit;
    zoom_ = 0;
    update_scroll_ranges();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    viewport()->update();
    emit zoomChanged(zoom_);
    emit scaleChanged();
}

void CPeloraView::step_zoom(int step) {
    set_zoom(fit_ ? zoom_after_fit(shown_scale(), step) : zoom_ + step);
}

void CPeloraView::centre_picture() {
    horizontalScrollBar()->setValue(horizontalScrollBar()->maximum() / 2);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum() / 2);
}

void CPeloraView::set_zoom(int exponent) {
    exponent = std::clamp(exponent, kZoomMin, kZoomMax);
    if (fit_) {
        // From a fitted view: the picture's middle at the middle of the view.
        fit_ = false;
        zoom_ = exponent;
        update_scroll_ranges();
        centre_picture();
        viewport()->update();
        emit zoomChanged(zoom_);
        emit scaleChanged();
        return;
    }
    if (exponent == zoom_) {
        return;
    }
    const int horizontal =
        rezoomed_position(horizontalScrollBar()->value(), viewport()->width(), zoom_, exponent);
    const int vertical =
        rezoomed_position(verticalScrollBar()->value(), viewport()->height(), zoom_, exponent);
    zoom_ = exponent;
    scaled_ = QImage();
    update_scroll_ranges();
    horizontalScrollBar()->setValue(horizontal);
    verticalScrollBar()->setValue(vertical);
    viewport()->update();
    emit zoomChanged(zoom_);
    emit scaleChanged();
}

void CPeloraView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    update_scroll_ranges();
    if (fit_) {
        viewport()->update();  // the picture follows the window's size
        emit scaleChanged();
    }
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
            step_zoom(step);
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

bool CPeloraView::pannable() const {
    return horizontalScrollBar()->maximum() > 0 || verticalScrollBar()->maximum() > 0;
}

void CPeloraView::update_cursor() {
    if (panning_) {
        viewport()->setCursor(Qt::ClosedHandCursor);
    } else if (pannable()) {
        viewport()->setCursor(Qt::OpenHandCursor);
    } else {
        viewport()->unsetCursor();
    }
}

void CPeloraView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pannable()) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    panning_ = true;
    pan_start_ = event->position().toPoint();
    pan_origin_ = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
    update_cursor();
    event->accept();
}

void CPeloraView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (panning_) {
        // The picture follows the pointer: dragging left shows more of its right.
        const QPoint moved = at - pan_start_;
        horizontalScrollBar()->setValue(pan_origin_.x() - moved.x());
        verticalScrollBar()->setValue(pan_origin_.y() - moved.y());
    }
    emit pointerMoved(picture_pixel_at(at));
    event->accept();
}

void CPeloraView::mouseReleaseEvent(QMouseEvent* event) {
    if (panning_ && event->button() == Qt::LeftButton) {
        panning_ = false;
        update_cursor();
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

bool CPeloraView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Leave) {
        emit pointerMoved(QPoint(-1, -1));
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void CPeloraView::picture_changed() {
    scaled_ = QImage();
    update_scroll_ranges();
    viewport()->update();
}

}  // namespace viewer
