#include "main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <map>

#include "child_frame.h"
#include "document_object.h"
#include "pelora_view.h"
#include "picture_formats.h"

namespace {

struct CommandEntry {
    const char* text;
    PictureCommand command;
};

constexpr CommandEntry kCommands[4] = {
    {"RGBToPalette", PictureCommand::RGBToPalette},
    {"ColorToGray", PictureCommand::ColorToGray},
    {"ReduceTo4Colors", PictureCommand::ReduceTo4Colors},
    {"Resize", PictureCommand::Resize},
};

// The share of the MDI area a new child window takes before it fits itself to
// its picture.
constexpr double kInitialChildShare = 0.75;

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent), mdi_area_(new QMdiArea(this)) {
    setWindowTitle(tr("Pelora"));
    setCentralWidget(mdi_area_);
    setAcceptDrops(true);
    create_actions();
    create_menus();
    connect(mdi_area_, &QMdiArea::subWindowActivated, this, &CMainFrame::update_menus);
    update_menus();
}

CMainFrame::~CMainFrame() {
    // Destroying the child windows activates others on the way; nothing of the
    // frame may react to that any more.
    closing_down_ = true;
    disconnect(mdi_area_, nullptr, this, nullptr);
}

void CMainFrame::create_actions() {
    open_action_ = new QAction(tr("&Open..."), this);
    open_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(open_action_, &QAction::triggered, this, &CMainFrame::open_with_dialog);

    // New has no menu entry, only its accelerator.
    new_action_ = new QAction(tr("&New"), this);
    new_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(new_action_, &QAction::triggered, this, &CMainFrame::new_document);
    addAction(new_action_);
    addAction(open_action_);

    close_action_ = new QAction(tr("&Close"), this);
    connect(close_action_, &QAction::triggered, mdi_area_, &QMdiArea::closeActiveSubWindow);

    preferences_action_ = new QAction(tr("Preferences"), this);
    preferences_action_->setEnabled(false);  // there are no preferences to set

    exit_action_ = new QAction(tr("E&xit"), this);
    connect(exit_action_, &QAction::triggered, this, &QWidget::close);

    for (int i = 0; i < 4; ++i) {
        command_actions_[i] = new QAction(QString::fromLatin1(kCommands[i].text), this);
        const PictureCommand command = kCommands[i].command;
        connect(command_actions_[i], &QAction::triggered, this,
                [this, command] { run_command(command); });
    }

    new_window_action_ = new QAction(tr("&New Window"), this);
    connect(new_window_action_, &QAction::triggered, this, &CMainFrame::new_window);
    cascade_action_ = new QAction(tr("&Cascade"), this);
    connect(cascade_action_, &QAction::triggered, mdi_area_, &QMdiArea::cascadeSubWindows);
    tile_action_ = new QAction(tr("&Tile"), this);
    connect(tile_action_, &QAction::triggered, mdi_area_, &QMdiArea::tileSubWindows);
    arrange_action_ = new QAction(tr("&Arrange Icons"), this);
    connect(arrange_action_, &QAction::triggered, this, &CMainFrame::arrange_icons);

    about_action_ = new QAction(tr("&About Pelora..."), this);
    connect(about_action_, &QAction::triggered, this, &CMainFrame::about);
}

void CMainFrame::create_menus() {
    file_menu_empty_ = new QMenu(tr("&File"), this);
    file_menu_empty_->addAction(open_action_);
    file_menu_empty_->addSeparator();
    file_menu_empty_->addAction(exit_action_);

    file_menu_ = new QMenu(tr("&File"), this);
    file_menu_->addAction(open_action_);
    file_menu_->addAction(close_action_);
    file_menu_->addSeparator();
    file_menu_->addAction(preferences_action_);
    file_menu_->addSeparator();
    file_menu_->addAction(exit_action_);

    edit_menu_ = new QMenu(tr("&Edit"), this);
    for (QAction* action : command_actions_) {
        edit_menu_->addAction(action);
    }

    window_menu_ = new QMenu(tr("&Window"), this);
    connect(window_menu_, &QMenu::aboutToShow, this, &CMainFrame::update_window_menu);
    update_window_menu();

    help_menu_ = new QMenu(tr("&Help"), this);
    help_menu_->addAction(about_action_);
}

void CMainFrame::update_menus() {
    if (closing_down_) {
        return;
    }
    const bool has_document = active_view() != nullptr;
    if (has_document != document_menus_shown_) {
        document_menus_shown_ = has_document;
        menuBar()->clear();
        if (has_document) {
            menuBar()->addMenu(file_menu_);
            menuBar()->addMenu(edit_menu_);
            menuBar()->addMenu(window_menu_);
        } else {
            menuBar()->addMenu(file_menu_empty_);
        }
        menuBar()->addMenu(help_menu_);
    }
    close_action_->setEnabled(has_document);
    for (QAction* action : command_actions_) {
        action->setEnabled(has_document);
    }
    refresh_titles();
}

void CMainFrame::update_window_menu() {
    window_menu_->clear();
    window_menu_->addAction(new_window_action_);
    window_menu_->addAction(cascade_action_);
    window_menu_->addAction(tile_action_);
    window_menu_->addAction(arrange_action_);
    const QList<QMdiSubWindow*> windows = mdi_area_->subWindowList();
    if (windows.isEmpty()) {
        return;
    }
    window_menu_->addSeparator();
    int number = 1;
    for (QMdiSubWindow* window : windows) {
        QAction* action = window_menu_->addAction(
            QStringLiteral("&%1 %2").arg(number++).arg(window->windowTitle()));
        action->setCheckable(true);
        action->setChecked(window == mdi_area_->activeSubWindow());
        connect(action, &QAction::triggered, this,
                [this, window] { mdi_area_->setActiveSubWindow(window); });
    }
}

CPeloraView* CMainFrame::active_view() const {
    auto* frame = qobject_cast<CChildFrame*>(mdi_area_->activeSubWindow());
    return frame != nullptr ? frame->view() : nullptr;
}

void CMainFrame::refresh_titles() {
    if (closing_down_) {
        return;
    }
    // A document shown in several windows numbers them: "title:1", "title:2".
    std::map<const DocumentObject*, int> views;
    for (QMdiSubWindow* window : mdi_area_->subWindowList()) {
        if (auto* frame = qobject_cast<CChildFrame*>(window)) {
            ++views[&frame->view()->document()];
        }
    }
    std::map<const DocumentObject*, int> numbers;
    for (QMdiSubWindow* window : mdi_area_->subWindowList(QMdiArea::CreationOrder)) {
        if (auto* frame = qobject_cast<CChildFrame*>(window)) {
            const DocumentObject* document = &frame->view()->document();
            QString title = document->title();
            if (views[document] > 1) {
                title += QStringLiteral(":%1").arg(++numbers[document]);
            }
            frame->setWindowTitle(title);
        }
    }
}

CChildFrame* CMainFrame::add_view(const std::shared_ptr<DocumentObject>& document) {
    auto* view = new CPeloraView(document);
    auto* frame = new CChildFrame(view);
    mdi_area_->addSubWindow(frame);
    connect(document.get(), &DocumentObject::titleChanged, this, &CMainFrame::refresh_titles);
    connect(frame, &QObject::destroyed, this, &CMainFrame::update_menus, Qt::QueuedConnection);
    const QSize area = mdi_area_->viewport()->size();
    frame->resize(static_cast<int>(area.width() * kInitialChildShare),
                  static_cast<int>(area.height() * kInitialChildShare));
    frame->show();
    view->initial_update(frame);
    mdi_area_->setActiveSubWindow(frame);
    update_menus();
    return frame;
}

CChildFrame* CMainFrame::open_file(const QString& path) {
    auto document = std::make_shared<DocumentObject>();
    document->open(path);
    return add_view(document);
}

CChildFrame* CMainFrame::new_document() {
    return add_view(std::make_shared<DocumentObject>());
}

CChildFrame* CMainFrame::new_window() {
    CPeloraView* view = active_view();
    return view != nullptr ? add_view(view->shared_document()) : nullptr;
}

QStringList CMainFrame::open_filters() {
    int count = 0;
    const char* const* extensions = picture_extensions(&count);
    QStringList patterns;
    for (int i = 0; i < count; ++i) {
        const QString extension = QString::fromLatin1(extensions[i]);
        patterns << QStringLiteral("*") + extension << QStringLiteral("*") + extension.toUpper();
    }
    return QStringList{tr("Picture Files (%1)").arg(patterns.join(QLatin1Char(' '))),
                       tr("Qap Image Files (*.qap *.QAP)"), tr("All files (*)")};
}

void CMainFrame::open_with_dialog() {
    const QStringList paths = QFileDialog::getOpenFileNames(
        this, tr("Open"), QString(), open_filters().join(QStringLiteral(";;")));
    for (const QString& path : paths) {
        open_file(path);
    }
}

void CMainFrame::run_command(PictureCommand command) {
    if (CPeloraView* view = active_view()) {
        view->run_command(command);
    }
}

void CMainFrame::arrange_icons() {
    // Minimised windows line up along the bottom of the area, left to right.
    int x = 0;
    const int bottom = mdi_area_->viewport()->height();
    for (QMdiSubWindow* window : mdi_area_->subWindowList()) {
        if (window->isMinimized()) {
            window->move(x, bottom - window->height());
            x += window->width();
        }
    }
}

void CMainFrame::about() {
    QMessageBox box(QMessageBox::NoIcon, tr("About Pelora"), tr("Pelora Version 1.0"),
                    QMessageBox::Ok, this);
    box.exec();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    open_dropped(*event->mimeData());
    event->acceptProposedAction();
}

void CMainFrame::open_dropped(const QMimeData& data) {
    const QList<QUrl> urls = data.urls();
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) {
            open_file(url.toLocalFile());
        }
    }
}
