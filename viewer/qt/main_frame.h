// The main window: an MDI area holding one child frame per view, the menus,
// the status bar, opening files from the Open dialog, the command line and
// drops, and browsing the folder of the active window's picture. While a
// child window that is not maximised is active the title is "Pelora - " and
// its document's title; a maximised one Qt adds itself, as "Pelora - [title]".
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <chrono>
#include <memory>

#include "viewer/core/document.h"
#include "viewer/core/picture_writer.h"
#include "viewer/qt/export_job.h"

class QAction;
class QMdiArea;
class QMenu;
class QMimeData;

namespace viewer {

class CChildFrame;
class CPeloraView;
class DocumentObject;
class PictureStatusBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT

  public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Opens a file in a new document with its own child frame. A file that is
    // open already has its window activated instead. An open that read nothing
    // of the file has shown why and leaves no window (null).
    CChildFrame* open_file(const QString& path);
    // The same with the path as the file system's bytes.
    CChildFrame* open_local_file(const QByteArray& path);

    // Opens every local file of a drop (a list of URLs), once the drop is over.
    void open_dropped(const QMimeData& data);

    // Replaces the active window's picture with the next (`step` 1) or
    // previous (-1) picture of its folder, as opening that file would.
    void browse_folder(int step);

    // A second view of the active document.
    CChildFrame* new_window();

    QMdiArea* mdi_area() const { return mdi_area_; }
    CPeloraView* active_view() const;

    // The file filters of the Open dialog: all pictures, the phone images on
    // their own, all files. Their patterns match every extension of the
    // viewer's formats in any letter case.
    static QStringList open_filters();

    // The file filters of the Export dialog, and the format each one writes.
    static QStringList export_filters();
    static ExportFormat export_format_of_filter(const QString& filter);

    // Writes the active picture to `path` in `format`, adding the format's
    // extension when the name lacks it; failures are shown. A long export
    // shows its progress and can be cancelled (export_job.h). Returns the path
    // written, or an empty string (failed, cancelled, or another export runs).
    QString export_active(const QString& path, ExportFormat format);

    // How long an export runs before its progress shows.
    void set_export_moment(std::chrono::milliseconds moment) { export_moment_ = moment; }

    // Takes back or does again the active document's last change; reloads
    // its file, asking first when it has changes.
    void undo_active();
    void redo_active();
    void revert_active();

    // Puts the active picture on the clipboard.
    void copy_active();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void create_actions();
    void create_menus();
    void update_menus();
    void update_history_actions();
    void update_window_menu();
    void refresh_titles();
    void open_with_dialog();
    void export_with_dialog();
    void update_main_title();
    void zoom_active(int step);
    void fit_active(bool fit);
    void show_status_bar(bool shown);
    void fit_into_workspace(CChildFrame* frame);
    QSize initial_child_size() const;
    void size_to_picture(CChildFrame* frame);
    void run_command(PictureCommand command);
    void arrange_icons();
    void about();
    CChildFrame* add_view(const std::shared_ptr<DocumentObject>& document);

    QMdiArea* mdi_area_;

    QAction* open_action_;
    QAction* close_action_;
    QAction* revert_action_;
    QAction* next_picture_action_;
    QAction* previous_picture_action_;
    QAction* export_action_;
    QAction* undo_action_;
    QAction* redo_action_;
    QAction* copy_action_;
    QAction* zoom_in_action_;
    QAction* zoom_out_action_;
    QAction* actual_size_action_;
    QAction* fit_action_;
    QAction* status_bar_action_;
    QAction* preferences_action_;
    QAction* exit_action_;
    QAction* command_actions_[4];
    QAction* new_window_action_;
    QAction* cascade_action_;
    QAction* tile_action_;
    QAction* arrange_action_;
    QAction* about_action_;

    // The menus shown while no document is open, and while one is.
    QMenu* file_menu_empty_;
    QMenu* help_menu_;
    QMenu* file_menu_;
    QMenu* edit_menu_;
    QMenu* view_menu_;
    QMenu* window_menu_;
    PictureStatusBar* status_bar_;
    bool document_menus_shown_ = true;
    bool closing_down_ = false;  // children are being destroyed: menus stay as they are
    bool exporting_ = false;     // an export is running: no second one starts
    std::chrono::milliseconds export_moment_ = ExportJob::kMoment;
};

}  // namespace viewer
