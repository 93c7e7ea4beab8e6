#include "viewer/qt/picture_status_bar.h"

#include <QLabel>
#include <cmath>

#include "viewer/core/pixel_probe.h"
#include "viewer/qt/pelora_view.h"

namespace viewer {

namespace {

// A zoom as a percentage: whole, or with one decimal for 1/8 (12.5 %).
QString percent(double scale) {
    const double value = scale * 100.0;
    const bool whole = std::abs(value - std::round(value)) < 0.05;
    return QStringLiteral("%1 %").arg(value, 0, 'f', whole ? 0 : 1);
}

QString hex_color(const PixelValue& value) {
    return QStringLiteral("#%1%2%3")
        .arg(value.red, 2, 16, QLatin1Char('0'))
        .arg(value.green, 2, 16, QLatin1Char('0'))
        .arg(value.blue, 2, 16, QLatin1Char('0'))
        .toUpper();
}

}  // namespace

PictureStatusBar::PictureStatusBar(QWidget* parent)
    : QStatusBar(parent),
      pointer_(new QLabel(this)),
      picture_(new QLabel(this)),
      scale_(new QLabel(this)) {
    addWidget(pointer_, 1);
    addPermanentWidget(picture_);
    addPermanentWidget(scale_);
}

void PictureStatusBar::follow(CPeloraView* view) {
    for (const QMetaObject::Connection& connection : connections_) {
        disconnect(connection);
    }
    connections_.clear();
    view_ = view;
    pointer_->clear();
    if (view != nullptr) {
        connections_ << connect(view, &CPeloraView::scaleChanged, this,
                                &PictureStatusBar::show_picture)
                     << connect(&view->document(), &DocumentObject::pictureChanged, this,
                                &PictureStatusBar::show_picture)
                     << connect(view, &CPeloraView::pointerMoved, this,
                                &PictureStatusBar::show_pointer);
    }
    show_picture();
}

void PictureStatusBar::show_picture() {
    if (view_ == nullptr) {
        picture_->clear();
        scale_->clear();
        return;
    }
    const imaging::ImageDesc& image = view_->document().image();
    picture_->setText(tr("%1 x %2 pixels, %3 bits")
                          .arg(imaging::image_width(image))
                          .arg(imaging::image_height(image))
                          .arg(imaging::image_bits(image)));
    // A fitted view's scale is any number: whole percents are enough.
    const double scale = view_->shown_scale();
    scale_->setText(view_->fit() ? tr("Fit %1 %").arg(qRound(scale * 100.0)) : percent(scale));
}

void PictureStatusBar::show_pointer(QPoint pixel) {
    if (view_ == nullptr) {
        return;
    }
    const PixelValue value = pixel_value(view_->document().image(), pixel.x(), pixel.y());
    const QString at = QStringLiteral("%1, %2: ").arg(pixel.x()).arg(pixel.y());
    switch (value.kind) {
        case PixelValue::Kind::Indexed:
            pointer_->setText(at + tr("index %1, %2").arg(value.index).arg(hex_color(value)));
            break;
        case PixelValue::Kind::Color:
            pointer_->setText(at + hex_color(value));
            break;
        case PixelValue::Kind::Gray16:
            pointer_->setText(at + tr("gray %1").arg(value.sample));
            break;
        case PixelValue::Kind::None:
            pointer_->clear();
            break;
    }
}

QString PictureStatusBar::picture_text() const {
    return picture_->text();
}

QString PictureStatusBar::scale_text() const {
    return scale_->text();
}

QString PictureStatusBar::pointer_text() const {
    return pointer_->text();
}

}  // namespace viewer
