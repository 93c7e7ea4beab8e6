// The picture view: draws the document's picture at its natural size with
// scroll bars, and carries out the picture commands. It can also zoom the
// picture by powers of two, drawing each pixel as a square when enlarged and
// averaging the pixels when reduced, or fit it to the window; at 100 % without
// fit it draws and scrolls exactly as without zoom. A picture larger than the
// window can be dragged with the left button. The view reports which picture
// pixel lies under the pointer.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <memory>

#include "imaging/display.h"
#include "viewer/core/view_geometry.h"
#include "viewer/qt/document_object.h"

class QMdiSubWindow;
class QScrollBar;

namespace viewer {

class CPeloraView : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit CPeloraView(std::shared_ptr<DocumentObject> document, QWidget* parent = nullptr);
    ~CPeloraView() override;

    DocumentObject& document() const { return *document_; }
    const std::shared_ptr<DocumentObject>& shared_document() const { return document_; }

    // Shows another document (the next picture of a folder) in this view.
    void set_document(std::shared_ptr<DocumentObject> document);

    // Sizes the child frame to the picture as it is now, then sets the scroll
    // ranges. A picture that fits the window is shown whole, without scroll
    // bars; a fitted one at its own size.
    void initial_update(QMdiSubWindow* frame);

    // Scroll ranges from the picture and the client size (run after every resize).
    void update_scroll_ranges();

    // Carries out a scroll request on one bar (also used by keys and the wheel).
    void scroll(Qt::Orientation orientation, ScrollRequest request, int requested = 0);

    // The zoom as a power of two (0 is 100 %), kZoomMin..kZoomMax. Changing
    // it keeps the picture point at the middle of the view where it is.
    // Setting it leaves fit to window.
    int zoom() const { return zoom_; }
    void set_zoom(int exponent);
    // A zoom step in (1) or out (-1): from a fitted view, to the power of two
    // beyond its scale.
    void step_zoom(int step);

    // Fit to window: the whole picture scaled to the client area, aspect kept,
    // following resizes, without scroll bars.
    bool fit() const { return fit_; }
    void set_fit(bool fit);

    // The scale the picture is shown at (1 is 100 %).
    double shown_scale() const;

    // The picture pixel under a point of the client area; (-1, -1) outside.
    QPoint picture_pixel_at(QPoint client) const;

    // Runs a picture command on the document; its status is kept.
    void run_command(PictureCommand command);
    imaging::ImgStatus last_status() const { return last_status_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  signals:
    // The zoom or fit to window changed.
    void zoomChanged(int exponent);
    // The scale the picture is shown at may have changed (a fitted view's
    // follows the window's size).
    void scaleChanged();
    // The pointer moved over the picture pixel `pixel`, or left the picture
    // ((-1, -1)).
    void pointerMoved(QPoint pixel);

  private:
    // Turns the wheel: Ctrl zooms; else the vertical turn scrolls `along` (the
    // horizontal one always horizontally), Shift making a vertical turn horizontal.
    void turn_wheel(QWheelEvent* event, Qt::Orientation along);
    void paint_zoomed(QPainter& painter);
    void paint_scaled(QPainter& painter, const QRect& target);
    QRect fitted_rect() const;
    bool pannable() const;
    void update_cursor();
    void centre_picture();
    void on_scroll_action(Qt::Orientation orientation, int action);
    QScrollBar* bar(Qt::Orientation orientation) const;
    int client_extent(Qt::Orientation orientation) const;
    void picture_changed();

    std::shared_ptr<DocumentObject> document_;
    imaging::DisplayPalette display_object_ =
        nullptr;  // from the last paint, deleted before the next
    int32_t display_mode_ = imaging::kDisplayDither;
    imaging::ImgStatus last_status_ = imaging::IMG_OK;
    int zoom_ = 0;
    int zoom_wheel_ = 0;  // wheel angle toward the next zoom step
    bool fit_ = false;
    // The picture as a reduced or fitted view last drew it, in device pixels;
    // dropped when the picture changes.
    QImage scaled_;
    // Dragging the picture: where the button went down, and the scroll
    // position then.
    bool panning_ = false;
    QPoint pan_start_;
    QPoint pan_origin_;
};

}  // namespace viewer
