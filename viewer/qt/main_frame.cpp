#include "viewer/qt/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QUrl>
#include <algorithm>
#include <map>

#include "viewer/core/folder_browse.h"
#include "viewer/core/picture_formats.h"
#include "viewer/qt/child_frame.h"
#include "viewer/qt/document_object.h"
#include "viewer/qt/message_sink.h"
#include "viewer/qt/pelora_view.h"
#include "viewer/qt/picture_status_bar.h"
#include "viewer/qt/qt_display_surface.h"
#include "viewer/qt/viewer_settings.h"

namespace viewer {

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

// Characters of a title a child window is wide enough to show beside its
// title-bar buttons, however small its picture.
constexpr int kTitleStartCharacters = 10;

// Window menu entries up to this number have their number as mnemonic.
constexpr int kNumberedWindows = 9;

// Remembered across restarts: whether new windows fit their picture to the
// window, and whether the status bar is shown (it is not at first).
constexpr char kFitSetting[] = "view/fitToWindow";
constexpr char kStatusBarSetting[] = "view/statusBar";

struct ExportEntry {
    const char* name;  // of the file type, in the Export dialog
    ExportFormat format;
    const char* suffix;
};

constexpr ExportEntry kExportFormats[] = {
    {kPhoneImageFiles, ExportFormat::PhoneImage, ".qap"},
    {QT_TRANSLATE_NOOP("viewer::CMainFrame", "Bitmap Files"), ExportFormat::Bmp, ".bmp"},
    {QT_TRANSLATE_NOOP("viewer::CMainFrame", "PNG Files"), ExportFormat::Png, ".png"},
};

// A pattern that matches files with the extension in any letter case, also in
// file dialogs that compare names case-sensitively (GTK's): ".jpg" gives
// "*.[jJ][pP][gG]".
QString any_case_pattern(const char* extension) {
    QString pattern = QStringLiteral("*");
    for (const QChar c : QString::fromLatin1(extension)) {
        if (c.isLetter()) {
            pattern += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        } else {
            pattern += c;
        }
    }
    return pattern;
}

// A file dialog's filter: a name and its patterns, "Bitmap Files (*.bmp)".
QString file_filter(const QString& name, const QStringList& patterns) {
    return name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

QString export_filter(const ExportEntry& entry) {
    return file_filter(QCoreApplication::translate("viewer::CMainFrame", entry.name),
                       {QStringLiteral("*") + QString::fromLatin1(entry.suffix)});
}

const ExportEntry& export_entry(ExportFormat format) {
    for (const ExportEntry& entry : kExportFormats) {
        if (entry.format == format) {
            return entry;
        }
    }
    return kExportFormats[0];
}

// The type of the last export, by its extension; a phone image at first.
const ExportEntry& remembered_export_type() {
    const QString type = settings::export_type();
    for (const ExportEntry& entry : kExportFormats) {
        if (type == QLatin1String(entry.suffix)) {
            return entry;
        }
    }
    return kExportFormats[0];
}

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent), mdi_area_(new QMdiArea(this)) {
    setWindowTitle(tr("Pelora"));
    setCentralWidget(mdi_area_);
    setAcceptDrops(true);
    create_actions();
    create_menus();
    status_bar_ = new PictureStatusBar(this);
    setStatusBar(status_bar_);
    status_bar_->setVisible(status_bar_action_->isChecked());
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

    addAction(open_action_);

    close_action_ = new QAction(tr("&Close"), this);
    close_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));
    connect(close_action_, &QAction::triggered, mdi_area_, &QMdiArea::closeActiveSubWindow);

    // Keys the view does not scroll with.
    next_picture_action_ = new QAction(tr("&Next Picture"), this);
    next_picture_action_->setShortcut(QKeySequence(Qt::Key_Space));
    connect(next_picture_action_, &QAction::triggered, this, [this] { browse_folder(1); });
    previous_picture_action_ = new QAction(tr("&Previous Picture"), this);
    previous_picture_action_->setShortcut(QKeySequence(Qt::Key_Backspace));
    connect(previous_picture_action_, &QAction::triggered, this, [this] { browse_folder(-1); });

    revert_action_ = new QAction(tr("&Revert"), this);
    connect(revert_action_, &QAction::triggered, this, &CMainFrame::revert_active);

    export_action_ = new QAction(tr("&Export..."), this);
    export_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    connect(export_action_, &QAction::triggered, this, &CMainFrame::export_with_dialog);

    undo_action_ = new QAction(tr("&Undo"), this);
    undo_action_->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)});
    connect(undo_action_, &QAction::triggered, this, &CMainFrame::undo_active);
    redo_action_ = new QAction(tr("&Redo"), this);
    redo_action_->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(redo_action_, &QAction::triggered, this, &CMainFrame::redo_active);

    copy_action_ = new QAction(tr("&Copy"), this);
    copy_action_->setShortcuts(QKeySequence::Copy);  // Ctrl+C and Ctrl+Insert
    connect(copy_action_, &QAction::triggered, this, &CMainFrame::copy_active);

    zoom_in_action_ = new QAction(tr("Zoom &In"), this);
    zoom_in_action_->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    connect(zoom_in_action_, &QAction::triggered, this, [this] { zoom_active(1); });
    zoom_out_action_ = new QAction(tr("Zoom &Out"), this);
    zoom_out_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    connect(zoom_out_action_, &QAction::triggered, this, [this] { zoom_active(-1); });
    actual_size_action_ = new QAction(tr("&Actual Size"), this);
    actual_size_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    connect(actual_size_action_, &QAction::triggered, this, [this] { zoom_active(0); });

    const QSettings settings;
    fit_action_ = new QAction(tr("&Fit to Window"), this);
    fit_action_->setCheckable(true);
    connect(fit_action_, &QAction::triggered, this, &CMainFrame::fit_active);
    status_bar_action_ = new QAction(tr("&Status Bar"), this);
    status_bar_action_->setCheckable(true);
    status_bar_action_->setChecked(settings.value(kStatusBarSetting, false).toBool());
    connect(status_bar_action_, &QAction::triggered, this, &CMainFrame::show_status_bar);

    preferences_action_ = new QAction(tr("Preferences"), this);
    preferences_action_->setEnabled(false);  // there are no preferences to set

    exit_action_ = new QAction(tr("E&xit"), this);
    exit_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
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
    file_menu_->addAction(revert_action_);
    file_menu_->addAction(export_action_);
    file_menu_->addSeparator();
    file_menu_->addAction(next_picture_action_);
    file_menu_->addAction(previous_picture_action_);
    file_menu_->addSeparator();
    file_menu_->addAction(preferences_action_);
    file_menu_->addSeparator();
    file_menu_->addAction(exit_action_);

    edit_menu_ = new QMenu(tr("&Edit"), this);
    edit_menu_->addAction(undo_action_);
    edit_menu_->addAction(redo_action_);
    edit_menu_->addSeparator();
    edit_menu_->addAction(copy_action_);
    edit_menu_->addSeparator();
    for (QAction* action : command_actions_) {
        edit_menu_->addAction(action);
    }

    view_menu_ = new QMenu(tr("&View"), this);
    view_menu_->addAction(zoom_in_action_);
    view_menu_->addAction(zoom_out_action_);
    view_menu_->addAction(actual_size_action_);
    view_menu_->addSeparator();
    view_menu_->addAction(fit_action_);
    view_menu_->addAction(status_bar_action_);

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
            menuBar()->addMenu(view_menu_);
            menuBar()->addMenu(window_menu_);
        } else {
            menuBar()->addMenu(file_menu_empty_);
        }
        menuBar()->addMenu(help_menu_);
    }
    close_action_->setEnabled(has_document);
    update_history_actions();
    export_action_->setEnabled(has_document);
    const bool from_file = has_document && !active_view()->document().local_path().isEmpty();
    next_picture_action_->setEnabled(from_file);
    previous_picture_action_->setEnabled(from_file);
    copy_action_->setEnabled(has_document);
    for (QAction* action : command_actions_) {
        action->setEnabled(has_document);
    }
    // From a fitted view every zoom command applies.
    const bool fit = has_document && active_view()->fit();
    const int zoom = has_document ? active_view()->zoom() : 0;
    zoom_in_action_->setEnabled(has_document && (fit || zoom < kZoomMax));
    zoom_out_action_->setEnabled(has_document && (fit || zoom > kZoomMin));
    actual_size_action_->setEnabled(has_document && (fit || zoom != 0));
    fit_action_->setEnabled(has_document);
    fit_action_->setChecked(fit);
    status_bar_->follow(active_view());
    refresh_titles();
}

void CMainFrame::update_history_actions() {
    const CPeloraView* view = active_view();
    const CPeloraDoc* document = view != nullptr ? &view->document().document() : nullptr;
    const EditHistory* history = document != nullptr ? &document->history() : nullptr;
    undo_action_->setEnabled(history != nullptr && history->can_undo());
    redo_action_->setEnabled(history != nullptr && history->can_redo());
    // The menu names the change each would take back or do again.
    undo_action_->setText(history != nullptr && history->can_undo()
                              ? tr("&Undo %1").arg(QString::fromStdString(history->undo_name()))
                              : tr("&Undo"));
    redo_action_->setText(history != nullptr && history->can_redo()
                              ? tr("&Redo %1").arg(QString::fromStdString(history->redo_name()))
                              : tr("&Redo"));
    revert_action_->setEnabled(document != nullptr && !view->document().file_identity().isEmpty());
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
        // The name as it is: its own '&' doubled so that it shows rather than
        // marks a mnemonic. Only the first nine entries have their number as one.
        QString title = window->windowTitle();
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        const QString prefix = number <= kNumberedWindows ? QStringLiteral("&") : QString();
        QAction* action =
            window_menu_->addAction(prefix + QString::number(number++) + QLatin1Char(' ') + title);
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
    update_main_title();
}

void CMainFrame::update_main_title() {
    if (closing_down_) {
        return;
    }
    const QString program = tr("Pelora");
    auto* frame = qobject_cast<CChildFrame*>(mdi_area_->activeSubWindow());
    // A maximised child's title Qt adds to the program's, as "Pelora - [title]".
    if (frame == nullptr || frame->isMaximized()) {
        setWindowTitle(program);
    } else {
        setWindowTitle(program + QStringLiteral(" - ") + frame->view()->document().title());
    }
}

CChildFrame* CMainFrame::add_view(const std::shared_ptr<DocumentObject>& document) {
    auto* view = new CPeloraView(document);
    view->set_fit(QSettings().value(kFitSetting, false).toBool());
    auto* frame = new CChildFrame(view);
    mdi_area_->addSubWindow(frame);
    connect(document.get(), &DocumentObject::titleChanged, this, &CMainFrame::refresh_titles);
    // Undo, redo and revert follow every change of the picture.
    connect(document.get(), &DocumentObject::pictureChanged, this, &CMainFrame::update_menus,
            Qt::UniqueConnection);
    connect(frame, &QObject::destroyed, this, &CMainFrame::update_menus, Qt::QueuedConnection);
    // Qt restores the program's title after a maximised child; then ours returns.
    connect(frame, &QMdiSubWindow::windowStateChanged, this, &CMainFrame::update_main_title,
            Qt::QueuedConnection);
    connect(view, &CPeloraView::zoomChanged, this, &CMainFrame::update_menus);
    frame->resize(initial_child_size());
    frame->show();
    refresh_titles();
    size_to_picture(frame);
    mdi_area_->setActiveSubWindow(frame);
    update_menus();
    return frame;
}

QSize CMainFrame::initial_child_size() const {
    const QSize area = mdi_area_->viewport()->size();
    return QSize(static_cast<int>(area.width() * kInitialChildShare),
                 static_cast<int>(area.height() * kInitialChildShare));
}

void CMainFrame::size_to_picture(CChildFrame* frame) {
    // Sized from a window as large as the workspace, so that every picture
    // the workspace has room for shows whole, without scroll bars; a larger
    // one gets the workspace and scrolls.
    frame->resize(mdi_area_->viewport()->size());
    frame->view()->initial_update(frame);
    fit_into_workspace(frame);
}

void CMainFrame::fit_into_workspace(CChildFrame* frame) {
    if (frame->isMaximized()) {
        return;  // it fills the workspace already
    }
    const QSize area = mdi_area_->viewport()->size();
    // Wide enough for the title bar's buttons and the start of the title.
    const int title_start =
        frame->fontMetrics().horizontalAdvance(frame->windowTitle().left(kTitleStartCharacters));
    const int minimum = std::min(area.width(), frame->minimumSizeHint().width() + title_start);
    frame->setMinimumWidth(std::max(minimum, 0));
    const QSize size = frame->size().boundedTo(area).expandedTo(QSize(minimum, 0));
    frame->resize(size);
    frame->move(std::clamp(frame->x(), 0, std::max(0, area.width() - size.width())),
                std::clamp(frame->y(), 0, std::max(0, area.height() - size.height())));
}

CChildFrame* CMainFrame::open_file(const QString& path) {
    return open_local_file(QFile::encodeName(path));
}

CChildFrame* CMainFrame::open_local_file(const QByteArray& path) {
    const QByteArray identity = DocumentObject::identity_of(path);
    for (QMdiSubWindow* window : mdi_area_->subWindowList(QMdiArea::CreationOrder)) {
        auto* frame = qobject_cast<CChildFrame*>(window);
        if (frame != nullptr && frame->view()->document().local_identity() == identity) {
            if (frame->isMinimized()) {
                frame->showNormal();
            }
            mdi_area_->setActiveSubWindow(frame);
            return frame;
        }
    }
    auto document = std::make_shared<DocumentObject>();
    document->open_local(path);
    if (!document->file_was_read()) {
        return nullptr;  // the document has said why; nothing of the file to show
    }
    return add_view(document);
}

void CMainFrame::browse_folder(int step) {
    auto* frame = qobject_cast<CChildFrame*>(mdi_area_->activeSubWindow());
    if (frame == nullptr) {
        return;
    }
    // Browsing goes on from the last file tried, also when it could not be read.
    CPeloraView* view = frame->view();
    const QByteArray from = frame->browse_position().isEmpty() ? view->document().local_path()
                                                               : frame->browse_position();
    const std::string next =
        from.isEmpty() ? std::string() : neighbour_picture(from.toStdString(), step);
    if (next.empty()) {
        return;  // no other picture in the folder
    }
    frame->set_browse_position(QByteArray::fromStdString(next));
    auto document = std::make_shared<DocumentObject>();
    document->open_local(QByteArray::fromStdString(next));
    if (!document->file_was_read()) {
        return;  // the document has said why; the window keeps its picture
    }
    frame->set_browse_position(QByteArray());
    view->set_document(document);
    connect(document.get(), &DocumentObject::titleChanged, this, &CMainFrame::refresh_titles);
    refresh_titles();
    if (!frame->isMaximized() && !frame->isMinimized()) {
        size_to_picture(frame);
    }
    update_menus();
}

CChildFrame* CMainFrame::new_window() {
    CPeloraView* view = active_view();
    return view != nullptr ? add_view(view->shared_document()) : nullptr;
}

QStringList CMainFrame::open_filters() {
    QStringList every_picture;
    QStringList own_groups;  // formats the dialog also lists on their own
    for (const imaging::ReaderEntry& reader : picture_readers()) {
        QStringList patterns;
        for (const char* extension : imaging::reader_extensions(reader)) {
            patterns << any_case_pattern(extension);
        }
        every_picture << patterns;
        if (const char* name = file_dialog_name(reader)) {
            own_groups << file_filter(tr(name), patterns);
        }
    }
    return QStringList{file_filter(tr("Picture Files"), every_picture)} + own_groups +
           QStringList{tr("All files (*)")};
}

void CMainFrame::open_with_dialog() {
    // The any-case patterns are for matching; the dialog shows the names only.
    const QStringList paths = QFileDialog::getOpenFileNames(
        this, tr("Open"), settings::open_folder(), open_filters().join(QStringLiteral(";;")),
        nullptr, QFileDialog::HideNameFilterDetails);
    if (!paths.isEmpty()) {
        settings::remember_open(paths.first());
    }
    for (const QString& path : paths) {
        open_file(path);
    }
}

QStringList CMainFrame::export_filters() {
    QStringList filters;
    for (const ExportEntry& entry : kExportFormats) {
        filters << export_filter(entry);
    }
    return filters;
}

ExportFormat CMainFrame::export_format_of_filter(const QString& filter) {
    for (const ExportEntry& entry : kExportFormats) {
        if (filter == export_filter(entry)) {
            return entry.format;
        }
    }
    return kExportFormats[0].format;
}

void CMainFrame::export_with_dialog() {
    CPeloraView* view = active_view();
    if (view == nullptr) {
        return;
    }
    // Suggest the picture's own name, in the type and folder of the last
    // export (else as a phone image, beside the picture).
    const ExportEntry& type = remembered_export_type();
    const QString identity = view->document().file_identity();
    const QFileInfo source(identity);
    QString folder = settings::export_folder();
    if (folder.isEmpty() && !identity.isEmpty()) {
        folder = source.absolutePath();
    }
    const QString name =
        (identity.isEmpty() ? tr("picture") : source.completeBaseName()) + type.suffix;
    const QString start = folder.isEmpty() ? name : QFileInfo(QDir(folder), name).filePath();
    QString filter = export_filter(type);
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Export"), start, export_filters().join(QStringLiteral(";;")), &filter);
    if (path.isEmpty()) {
        return;
    }
    // A name with the extension of an export type is written in that type
    // under that name, which the dialog asked about if it existed.
    const QByteArray local = QFile::encodeName(path);
    ExportFormat format = export_format_of_filter(filter);
    if (export_format_for_path(std::string(local.constData(), size_t(local.size())), &format)) {
        settings::remember_export(path, QString::fromLatin1(export_entry(format).suffix));
        export_active(path, format);
        return;
    }
    // Any other name gets the chosen type's extension: the file of that name
    // is replaced only when the user agrees.
    QString target = path;
    for (const ExportEntry& entry : kExportFormats) {
        if (entry.format == format) {
            target += QString::fromLatin1(entry.suffix);
        }
    }
    if (QFileInfo::exists(target) &&
        QMessageBox::question(this, tr("Export"),
                              tr("%1 already exists.\nDo you want to replace it?")
                                  .arg(QFileInfo(target).fileName())) != QMessageBox::Yes) {
        return;
    }
    settings::remember_export(target, QString::fromLatin1(export_entry(format).suffix));
    export_active(target, format);
}

QString CMainFrame::export_active(const QString& path, ExportFormat format) {
    CPeloraView* view = active_view();
    if (view == nullptr) {
        return QString();
    }
    QString target = path;
    for (const ExportEntry& entry : kExportFormats) {
        const QString suffix = QString::fromLatin1(entry.suffix);
        if (entry.format == format && !target.endsWith(suffix, Qt::CaseInsensitive)) {
            target += suffix;
        }
    }
    if (exporting_) {
        return QString();  // one export at a time
    }
    exporting_ = true;
    const QByteArray local = QFile::encodeName(target);
    ExportJob job(view->document().image(), std::string(local.constData(), size_t(local.size())),
                  format);
    const ExportJob::Result result =
        job.wait(this, tr("Exporting %1...").arg(QFileInfo(target).fileName()), export_moment_);
    exporting_ = false;
    if (result.outcome == ExportJob::Outcome::Failed) {
        MessageSink::current().show(this, QStringLiteral("Error: ") + result.error);
    }
    return result.outcome == ExportJob::Outcome::Written ? target : QString();
}

void CMainFrame::undo_active() {
    if (CPeloraView* view = active_view()) {
        view->document().undo();
    }
}

void CMainFrame::redo_active() {
    if (CPeloraView* view = active_view()) {
        view->document().redo();
    }
}

void CMainFrame::revert_active() {
    CPeloraView* view = active_view();
    if (view == nullptr) {
        return;
    }
    DocumentObject& document = view->document();
    if (document.document().modified() &&
        QMessageBox::question(
            this, tr("Revert"),
            tr("Revert %1 to the file?\nIts changes are replaced by the picture the file holds; "
               "Undo brings them back.")
                .arg(QFile::decodeName(QByteArray::fromStdString(document.document().name())))) !=
            QMessageBox::Yes) {
        return;
    }
    document.revert();
}

void CMainFrame::copy_active() {
    if (CPeloraView* view = active_view()) {
        QGuiApplication::clipboard()->setImage(
            QtDisplaySurface::picture_image(view->document().image()));
    }
}

void CMainFrame::zoom_active(int step) {
    if (CPeloraView* view = active_view()) {
        if (step == 0) {
            view->set_zoom(0);
        } else {
            view->step_zoom(step);
        }
    }
}

void CMainFrame::fit_active(bool fit) {
    // New windows follow the last choice, also after a restart.
    QSettings().setValue(kFitSetting, fit);
    if (CPeloraView* view = active_view()) {
        view->set_fit(fit);
    }
}

void CMainFrame::show_status_bar(bool shown) {
    QSettings().setValue(kStatusBarSetting, shown);
    status_bar_->setVisible(shown);
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
    QList<QByteArray> paths;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) {
            // The path's bytes as the URL encodes them: a name need not be text.
            paths << QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        }
    }
    // The files open once the drop is over: a message an open shows must not
    // keep the program the files came from waiting for the drop to end.
    QMetaObject::invokeMethod(
        this,
        [this, paths] {
            for (const QByteArray& path : paths) {
                open_local_file(path);
            }
        },
        Qt::QueuedConnection);
}

}  // namespace viewer
