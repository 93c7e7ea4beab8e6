// The child window of one view: a sub-window of the main frame's MDI area.
#pragma once

#include <QByteArray>
#include <QMdiSubWindow>

namespace viewer {

class CPeloraView;

class CChildFrame : public QMdiSubWindow {
    Q_OBJECT

  public:
    // Takes ownership of the view; the frame deletes itself when closed.
    explicit CChildFrame(CPeloraView* view, QWidget* parent = nullptr);

    CPeloraView* view() const { return view_; }

    // The file of its folder this window last tried to show while browsing,
    // when it could not be read; empty once a picture of the folder is shown.
    const QByteArray& browse_position() const { return browse_position_; }
    void set_browse_position(const QByteArray& path) { browse_position_ = path; }

  private:
    CPeloraView* view_;
    QByteArray browse_position_;
};

}  // namespace viewer
