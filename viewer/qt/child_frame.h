// The child window of one view: a sub-window of the main frame's MDI area.
#pragma once

#include <QMdiSubWindow>

class CPeloraView;

class CChildFrame : public QMdiSubWindow {
    Q_OBJECT

  public:
    // Takes ownership of the view; the frame deletes itself when closed.
    explicit CChildFrame(CPeloraView* view, QWidget* parent = nullptr);

    CPeloraView* view() const { return view_; }

  private:
    CPeloraView* view_;
};
