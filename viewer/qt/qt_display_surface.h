// The drawing surface of the imaging library's display, over a QPainter.
//
// This adapter is the one place that knows both an ImageDesc block of rows
// (bottom-up, 4-byte padded, blue-green-red colour table) and what Qt paints.
// Pictures are drawn at their natural size in logical pixels; on high-density
// screens Qt scales them by whole device pixels without smoothing. A zoomed view
// scales the painter (never smoothing either) and tells the surface the client
// size in picture pixels. A reduced or fitted view draws the picture scaled by
// Qt: area-averaged when smaller than the picture, nearest-pixel when larger.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRgb>
#include <QVector>

#include "imaging/display.h"

class QWidget;

namespace viewer {

class QtDisplaySurface : public imaging::DisplaySurface {
  public:
    // Draws with `painter` into `widget`'s client area.
    QtDisplaySurface(QPainter& painter, QWidget& widget);
    // The same with the client area given in the painter's own units.
    QtDisplaySurface(QPainter& painter, QWidget& widget, imaging::ClientSize client);

    int32_t bits_per_pixel() override;
    imaging::ClientSize client_size() override;
    void draw_rows(const imaging::SurfaceRows& rows) override;
    imaging::DisplayPalette create_palette(const imaging::PaletteColor* colors,
                                           uint16_t count) override;
    imaging::DisplayPalette select_palette(imaging::DisplayPalette palette) override;
    void delete_palette(imaging::DisplayPalette palette) override;

    // Releases a palette handed back by image_display outside of a paint.
    static void release_palette(imaging::DisplayPalette palette);

    // The whole picture in its own colours (no dithering), upright; a null
    // image for an empty descriptor or a depth Qt cannot hold.
    static QImage picture_image(const imaging::ImageDesc& image);

    // The whole picture in its own colours scaled to `size`, upright: smooth
    // scaling averages the pixels each screen pixel covers, the other takes
    // the nearest pixel. A null image for an empty descriptor or size.
    static QImage scaled_picture(const imaging::ImageDesc& image, QSize size, bool smooth);

  private:
    QPainter& painter_;
    QWidget& widget_;
    imaging::ClientSize client_;
    imaging::DisplayPalette selected_ = nullptr;
};

}  // namespace viewer
