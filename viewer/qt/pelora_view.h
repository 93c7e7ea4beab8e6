// The picture view: draws the document's picture at its natural size with
// scroll bars, and carries out the picture commands. It can also zoom the
// picture by powers of two, drawing each pixel as a square; at 100 % it draws
// and scrolls exactly as without zoom.
#pragma once

#include <QAbstractScrollArea>
#include <memory>

#include "document_object.h"
#include "imaging/display.h"
#include "view_geometry.h"

using imaging::ImgStatus;

class QMdiSubWindow;
class QScrollBar;

class CPeloraView : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit CPeloraView(std::shared_ptr<DocumentObject> document, QWidget* parent = nullptr);
    ~CPeloraView() override;

    DocumentObject& document() const { return *document_; }
    const std::shared_ptr<DocumentObject>& shared_document() const { return document_; }

    // Sizes the child frame to the picture, then sets the scroll ranges.
    void initial_update(QMdiSubWindow* frame);

    // Scroll ranges from the picture and the client size (run after every resize).
    void update_scroll_ranges();

    // Carries out a scroll request on one bar (also used by keys and the wheel).
    void scroll(Qt::Orientation orientation, ScrollRequest request, int requested = 0);

    // The zoom as a power of two (0 is 100 %), kZoomMin..kZoomMax. Changing
    // it keeps the picture point at the middle of the view where it is.
    int zoom() const { return zoom_; }
    void set_zoom(int exponent);

    // Runs a picture command on the document; its status is kept.
    void run_command(PictureCommand command);
    ImgStatus last_status() const { return last_status_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  signals:
    void zoomChanged(int exponent);

  private:
    // Turns the wheel: Ctrl zooms; else the vertical turn scrolls `along` (the
    // horizontal one always horizontally), Shift making a vertical turn horizontal.
    void turn_wheel(QWheelEvent* event, Qt::Orientation along);
    void paint_zoomed(QPainter& painter);
    void on_scroll_action(Qt::Orientation orientation, int action);
    QScrollBar* bar(Qt::Orientation orientation) const;
    int client_extent(Qt::Orientation orientation) const;
    void picture_changed();

    std::shared_ptr<DocumentObject> document_;
    imaging::DisplayPalette display_object_ =
        nullptr;  // from the last paint, deleted before the next
    int32_t display_mode_ = imaging::kDisplayDither;
    ImgStatus last_status_ = imaging::IMG_OK;
    int zoom_ = 0;
    int zoom_wheel_ = 0;  // wheel angle toward the next zoom step
};
