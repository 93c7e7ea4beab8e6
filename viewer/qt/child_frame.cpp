#include "child_frame.h"

#include "pelora_view.h"

CChildFrame::CChildFrame(CPeloraView* view, QWidget* parent) : QMdiSubWindow(parent), view_(view) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWidget(view);
}
