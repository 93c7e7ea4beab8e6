#include "viewer/qt/qt_display_surface.h"

#include <QImage>
#include <QWidget>

using namespace imaging;

namespace viewer {

namespace {

// A logical palette: on the true-colour displays Qt draws on, it only records
// the colours; the picture's own colour table is what maps its indices.
struct QtPalette {
    QVector<QRgb> colors;
};

// The block's colour table for Qt: indices past the declared colours are black.
QVector<QRgb> color_table(const SurfaceRows& rows, int entries) {
    QVector<QRgb> table(entries, qRgb(0, 0, 0));
    const int declared = std::min(rows.color_count, entries);
    for (int i = 0; i < declared && rows.colors != nullptr; ++i) {
        const PaletteEntry& e = rows.colors[i];
        table[i] = qRgb(e.red, e.green, e.blue);
    }
    return table;
}

QImage::Format image_format(int32_t bits) {
    switch (bits) {
        case 1:
            return QImage::Format_Mono;
        case 8:
            return QImage::Format_Indexed8;
        case 24:
            return QImage::Format_BGR888;
        default:
            return QImage::Format_Invalid;
    }
}

// 16-bit gray rows as 8-bit levels by each sample's high byte, in the stored
// layout (the bottom row first): the levels that Export and pelora-cli write
// (Qt's own conversion from 16-bit gray would round instead).
QImage high_bytes_image(const SurfaceRows& rows) {
    const int32_t columns = rows.first_column + rows.width;
    QImage image(columns, rows.height, QImage::Format_Grayscale8);
    if (image.isNull()) {
        return image;
    }
    for (int32_t i = 0; i < rows.height; ++i) {
        const uint8_t* samples = rows.row_start + static_cast<size_t>(i) * rows.row_bytes;
        uchar* out = image.scanLine(i);
        for (int32_t x = 0; x < columns; ++x) {
            out[x] = samples[2 * x + 1];  // little-endian: the high byte second
        }
    }
    return image;
}

// The stored rows, the bottom row first, with their colours: wrapped in place
// (valid only while the rows are), or for 16-bit gray converted to 8 bits.
QImage stored_image(const SurfaceRows& rows) {
    if (rows.bits_per_pixel == 16 && rows.width > 0 && rows.height > 0) {
        return high_bytes_image(rows);
    }
    const QImage::Format format = image_format(rows.bits_per_pixel);
    if (format == QImage::Format_Invalid || rows.width <= 0 || rows.height <= 0) {
        return QImage();
    }
    QImage stored(rows.row_start, rows.first_column + rows.width, rows.height,
                  static_cast<qsizetype>(rows.row_bytes), format);
    if (rows.bits_per_pixel == 1) {
        stored.setColorTable(color_table(rows, 2));
    } else if (rows.bits_per_pixel == 8) {
        stored.setColorTable(color_table(rows, 256));
    }
    return stored;
}

// Columns first_column .. first_column + width - 1 of a block of rows, upright.
QImage upright_image(const SurfaceRows& rows) {
    const QImage stored = stored_image(rows);
    if (stored.isNull()) {
        return QImage();
    }
    return stored.copy(rows.first_column, 0, rows.width, rows.height).mirrored(false, true);
}

// The rows of a whole picture.
SurfaceRows picture_rows(const ImageDesc& image) {
    SurfaceRows rows{};
    rows.width = image_width(image);
    rows.height = image_height(image);
    rows.bits_per_pixel = image_bits(image);
    rows.row_start = image.pixels;
    rows.row_bytes = image.row_bytes;
    rows.bits = image.pixels;
    rows.colors = image.palette;
    rows.color_count = palette_entries(image);
    return rows;
}

}  // namespace

QtDisplaySurface::QtDisplaySurface(QPainter& painter, QWidget& widget)
    : QtDisplaySurface(painter, widget, ClientSize{widget.width(), widget.height()}) {}

QtDisplaySurface::QtDisplaySurface(QPainter& painter, QWidget& widget, ClientSize client)
    : painter_(painter), widget_(widget), client_(client) {}

int32_t QtDisplaySurface::bits_per_pixel() {
    return widget_.depth();
}

ClientSize QtDisplaySurface::client_size() {
    return client_;
}

void QtDisplaySurface::draw_rows(const SurfaceRows& rows) {
    const QImage visible = upright_image(rows);
    if (!visible.isNull()) {
        painter_.drawImage(QPoint(rows.x, rows.y), visible);
    }
}

QImage QtDisplaySurface::picture_image(const ImageDesc& image) {
    if (image.header == nullptr || image.pixels == nullptr) {
        return QImage();
    }
    return upright_image(picture_rows(image));
}

QImage QtDisplaySurface::scaled_picture(const ImageDesc& image, QSize size, bool smooth) {
    if (image.header == nullptr || image.pixels == nullptr || size.isEmpty()) {
        return QImage();
    }
    // Scaled straight from the stored rows, then turned upright: only the
    // scaled picture is ever copied.
    const QImage stored = stored_image(picture_rows(image));
    if (stored.isNull()) {
        return QImage();
    }
    return stored
        .scaled(size, Qt::IgnoreAspectRatio,
                smooth ? Qt::SmoothTransformation : Qt::FastTransformation)
        .mirrored(false, true);
}

DisplayPalette QtDisplaySurface::create_palette(const PaletteColor* colors, uint16_t count) {
    auto* palette = new (std::nothrow) QtPalette;
    if (palette == nullptr) {
        return nullptr;
    }
    palette->colors.reserve(count);
    for (uint16_t i = 0; i < count; ++i) {
        palette->colors.append(qRgb(colors[i].red, colors[i].green, colors[i].blue));
    }
    return palette;
}

DisplayPalette QtDisplaySurface::select_palette(DisplayPalette palette) {
    DisplayPalette previous = selected_;
    selected_ = palette;
    return previous;
}

void QtDisplaySurface::delete_palette(DisplayPalette palette) {
    release_palette(palette);
}

void QtDisplaySurface::release_palette(DisplayPalette palette) {
    delete static_cast<QtPalette*>(palette);
}

}  // namespace viewer
