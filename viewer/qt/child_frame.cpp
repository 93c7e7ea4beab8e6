#include "viewer/qt/child_frame.h"

#include <QMenu>

#include "viewer/qt/pelora_view.h"

namespace viewer {

CChildFrame::CChildFrame(CPeloraView* view, QWidget* parent) : QMdiSubWindow(parent), view_(view) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWidget(view);
    // Each child's own window menu would answer Ctrl+F4 too, and a key with
    // several answers gets none: the key is File > Close's alone.
    for (QAction* action : systemMenu()->actions()) {
        action->setShortcuts({});
    }
}

}  // namespace viewer
