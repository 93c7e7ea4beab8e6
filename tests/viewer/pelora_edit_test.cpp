// Undo, redo and revert, exports on a worker thread, the settings kept from
// one run to the next, and how 16-bit gray is drawn: the desktop viewer under
// the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QMdiArea>
#include <QMessageBox>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <functional>

#include "tests/support/test_support.h"
#include "tests/viewer/picture_files.h"
#include "tests/viewer/qt_test_support.h"
#include "viewer/qt/child_frame.h"
#include "viewer/qt/main_frame.h"
#include "viewer/qt/pelora_app.h"
#include "viewer/qt/pelora_view.h"
#include "viewer/qt/qt_display_surface.h"

using namespace imaging;
using namespace viewer;

namespace {

using test_pictures::Rgb;
using test_support::TempDir;

// The application, with what it remembers kept in a scratch folder.
struct Fixture {
    TempDir dir;
    std::string program = "pelora";
    char* argv[1] = {program.data()};
    int argc = 1;
    std::unique_ptr<CPeloraApp> app;

    Fixture() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, qpath(dir / "settings"));
        app = std::make_unique<CPeloraApp>(argc, argv);
    }
};

Fixture& fixture() {
    static Fixture* instance = new Fixture;  // lives until the process ends
    return *instance;
}

// Noise that no coder shrinks much: a long PNG export.
Rgb noise(int32_t x, int32_t y) {
    const uint32_t h =
        (static_cast<uint32_t>(x) * 2654435761u) ^ (static_cast<uint32_t>(y) * 40503u);
    return Rgb{static_cast<uint8_t>(h >> 24), static_cast<uint8_t>(h >> 16),
               static_cast<uint8_t>(h >> 8)};
}

// Reverts the active picture, answering a question with `button`; returns
// how many were asked.
int revert_answering(CMainFrame& frame, QMessageBox::StandardButton button) {
    const ModalAnswer<QMessageBox> answer(
        [button](QMessageBox& box) { box.button(button)->click(); });
    frame.revert_active();
    return answer.count();
}

// Runs `inspect` on the next file dialog that opens, then accepts or rejects it.
void on_next_file_dialog(std::function<void(QFileDialog&)> inspect, bool accept) {
    auto* wait = new QTimer;
    QObject::connect(wait, &QTimer::timeout, [wait, inspect, accept] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            wait->stop();
            wait->deleteLater();
            inspect(*dialog);
            accept ? static_cast<QDialog*>(dialog)->accept() : dialog->reject();
        }
    });
    wait->start(5);
}

class EditTest : public ::testing::Test {
  protected:
    void SetUp() override { frame.show(); }

    // The menu item whose text starts with `prefix`.
    QAction* action(const QString& prefix) {
        for (QAction* item : frame.findChildren<QAction*>()) {
            if (item->text().startsWith(prefix)) {
                return item;
            }
        }
        ADD_FAILURE() << prefix.toStdString();
        return nullptr;
    }

    // A key on the window, made active first (a dialog that closed may have
    // left no window active).
    static void key(CMainFrame& window, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, key, modifiers);
    }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers) { EditTest::key(frame, key, modifiers); }

    Fixture& app = fixture();
    TempDir dir;
    CMainFrame frame;
};

QImage picture_of(CChildFrame* child) {
    return QtDisplaySurface::picture_image(child->view()->document().image());
}

TEST_F(EditTest, UndoAndRedoStepThroughEveryCommandInEveryView) {
    test_pictures::write_rgb_bmp(dir / "sky.bmp", 320, 200, noise);
    CChildFrame* child = frame.open_file(qpath(dir / "sky.bmp"));
    CChildFrame* second = frame.new_window();
    frame.mdi_area()->setActiveSubWindow(child);
    QStringList titles{child->view()->document().title()};
    std::vector<QImage> pictures{picture_of(child)};
    for (PictureCommand command : {PictureCommand::RGBToPalette, PictureCommand::ColorToGray,
                                   PictureCommand::ReduceTo4Colors, PictureCommand::Resize}) {
        child->view()->run_command(command);
        titles << child->view()->document().title();
        pictures.push_back(picture_of(child));
    }
    EXPECT_EQ(action("&Undo")->text(), "&Undo Resize");

    for (int step = 3; step >= 0; --step) {
        key(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(child->windowTitle(), titles[step] + ":1") << step;
        EXPECT_EQ(second->windowTitle(), titles[step] + ":2") << step;
        EXPECT_EQ(picture_of(second), pictures[size_t(step)]) << step;
    }
    EXPECT_FALSE(action("&Undo")->isEnabled());
    EXPECT_EQ(action("&Redo")->text(), "&Redo RGBToPalette");

    // Both redo keys, alternately.
    for (int step = 1; step <= 4; ++step) {
        key(step % 2 == 1 ? Qt::Key_Y : Qt::Key_Z,
            Qt::ControlModifier | (step % 2 == 1 ? Qt::NoModifier : Qt::ShiftModifier));
        EXPECT_EQ(frame.windowTitle(), "Pelora - " + titles[step]) << step;
        EXPECT_EQ(picture_of(child), pictures[size_t(step)]) << step;
    }
    EXPECT_FALSE(action("&Redo")->isEnabled());

    // A new change forgets what was undone.
    key(Qt::Key_Z, Qt::ControlModifier);
    child->view()->run_command(PictureCommand::RGBToPalette);  // 8 bits already: no change
    EXPECT_TRUE(action("&Redo")->isEnabled());
    child->view()->run_command(PictureCommand::ColorToGray);
    EXPECT_FALSE(action("&Redo")->isEnabled());
}

TEST_F(EditTest, MemoryBudgetKeepsTheNewestSteps) {
    test_pictures::write_rgb_bmp(dir / "sky.bmp", 320, 200, noise);
    // Storage of the picture at 24 bits, and at 8 bits with its colour table.
    constexpr size_t kTrueColour = 40 + 320 * 3 * 200;
    constexpr size_t kPalette = 40 + 1024 + 320 * 200;
    struct Case {
        size_t budget;
        int undo_steps;  // of RGBToPalette, ColorToGray, ReduceTo4Colors
    };
    for (const Case c : {Case{EditHistory::kDefaultBudget, 3}, Case{kTrueColour + 3 * kPalette, 3},
                         Case{kTrueColour + 3 * kPalette - 1, 2},  // the first step dropped
                         Case{kTrueColour + kPalette - 1, 2}, Case{2 * kPalette - 1, 0}}) {
        CChildFrame* child = frame.open_file(qpath(dir / "sky.bmp"));
        DocumentObject& document = child->view()->document();
        document.set_history_budget(c.budget);
        for (PictureCommand command : {PictureCommand::RGBToPalette, PictureCommand::ColorToGray,
                                       PictureCommand::ReduceTo4Colors}) {
            document.run_command(command);
        }
        EXPECT_LE(document.document().history().step_bytes() + kPalette, c.budget);
        int undone = 0;
        while (action("&Undo")->isEnabled()) {
            key(Qt::Key_Z, Qt::ControlModifier);
            ++undone;
        }
        EXPECT_EQ(undone, c.undo_steps) << c.budget;
        child->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(EditTest, RevertAsksOnlyWhenChangedAndUndoBringsTheChangesBack) {
    RecordingSink sink;
    const auto path = dir / "photo.bmp";
    test_pictures::write_rgb_bmp(path, 60, 40, noise);
    CChildFrame* child = frame.open_file(qpath(path));
    DocumentObject& document = child->view()->document();
    const QString original = document.title();
    const QString palette = "photo.bmp (60 x 40 x 8, Color, 256 colors in Palette)";
    EXPECT_EQ(revert_answering(frame, QMessageBox::No), 0);  // unchanged: reloads, asks nothing
    document.run_command(PictureCommand::RGBToPalette);
    EXPECT_EQ(revert_answering(frame, QMessageBox::No), 1);
    EXPECT_EQ(document.title(), palette);
    EXPECT_EQ(revert_answering(frame, QMessageBox::Yes), 1);
    EXPECT_EQ(document.title(), original);
    EXPECT_EQ(action("&Undo")->text(), "&Undo Revert");
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(document.title(), palette);

    // A file gone leaves the picture as it is.
    std::filesystem::remove(path);
    EXPECT_EQ(revert_answering(frame, QMessageBox::Yes), 1);
    EXPECT_EQ(document.title(), palette);
    EXPECT_EQ(sink.messages, QStringList{"Error: cannot open photo.bmp: IMG_ERR_OPEN (-4)"});
}

size_t files_in(const std::filesystem::path& folder) {
    return size_t(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST_F(EditTest, CancelledExportLeavesTheOldFileAndNoTemporaryFile) {
    RecordingSink sink;
    test_pictures::write_rgb_bmp(dir / "large.bmp", 2000, 1500, noise);
    CChildFrame* child = frame.open_file(qpath(dir / "large.bmp"));
    frame.set_export_moment(std::chrono::milliseconds(0));
    TempDir out;
    test_support::write_text(out / "old.png", "the old file");

    // Cancel as soon as the dialog shows, noting the cursor beside it.
    bool busy = false;
    {
        const ModalAnswer<QProgressDialog> cancel(
            [&](QProgressDialog& dialog) {
                if (dialog.isVisible()) {
                    busy = QApplication::overrideCursor() != nullptr &&
                           QApplication::overrideCursor()->shape() == Qt::BusyCursor;
                    dialog.findChild<QPushButton*>()->click();
                }
            },
            1);
        EXPECT_EQ(frame.export_active(qpath(out / "old.png"), ExportFormat::Png), QString());
    }
    EXPECT_TRUE(busy);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(test_support::read_text(out / "old.png"), "the old file");
    EXPECT_EQ(files_in(out.path()), 1u);
    EXPECT_TRUE(sink.messages.isEmpty());

    // Not cancelled, the same export replaces the file.
    EXPECT_EQ(frame.export_active(qpath(out / "old.png"), ExportFormat::Png),
              qpath(out / "old.png"));
    EXPECT_EQ(QImage(qpath(out / "old.png")).convertToFormat(QImage::Format_BGR888),
              picture_of(child));
    EXPECT_EQ(files_in(out.path()), 1u);
}

TEST_F(EditTest, ExportAndOpenRememberTheirChoicesAcrossRestarts) {
    test_pictures::write_rgb_bmp(dir / "sky.bmp", 30, 20, noise);
    std::filesystem::create_directory(dir / "exports");
    frame.open_file(qpath(dir / "sky.bmp"));
    on_next_file_dialog(
        [this](QFileDialog& dialog) {
            dialog.selectNameFilter(CMainFrame::export_filters()[2]);
            dialog.selectFile(qpath(dir / "exports" / "chosen"));
        },
        true);
    key(Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(std::filesystem::exists(dir / "exports" / "chosen.png"));
    on_next_file_dialog([this](QFileDialog& dialog) { dialog.selectFile(qpath(dir / "sky.bmp")); },
                        true);
    key(Qt::Key_O, Qt::ControlModifier);

    // The settings file holds them: a new frame (as after a restart) offers them.
    QSettings().sync();
    const auto stored = fixture().dir / "settings" / "Tarvo Systems, Inc." / "Pelora.conf";
    EXPECT_NE(test_support::read_text(stored).find("Type=.png"), std::string::npos);
    CMainFrame restarted;
    restarted.show();
    restarted.open_file(qpath(dir / "sky.bmp"));
    on_next_file_dialog(
        [this](QFileDialog& dialog) {
            EXPECT_EQ(dialog.selectedNameFilter(), CMainFrame::export_filters()[2]);
            EXPECT_EQ(dialog.selectedFiles().value(0), qpath(dir / "exports" / "sky.png"));
        },
        false);
    key(restarted, Qt::Key_E, Qt::ControlModifier);
    on_next_file_dialog(
        [this](QFileDialog& dialog) {
            EXPECT_EQ(dialog.directory().absolutePath(), qpath(dir.path()));
        },
        false);
    key(restarted, Qt::Key_O, Qt::ControlModifier);
}

TEST_F(EditTest, SixteenBitGrayIsDrawnAndCopiedByItsHighByte) {
    // Samples whose rounded level is not their high byte.
    ImageDesc gray{};
    ASSERT_EQ(image_alloc(&gray, 2, 1, 16), IMG_OK);
    const uint8_t samples[4] = {0x00, 0xFF, 0xFF, 0x01};  // 0xFF00, 0x01FF, little-endian
    std::memcpy(image_row(gray, 0), samples, sizeof samples);
    QImage shown(2, 1, QImage::Format_RGB32);
    QPainter painter(&shown);
    QtDisplaySurface surface(painter, *frame.mdi_area(), ClientSize{2, 1});
    DisplayPalette palette = nullptr;
    image_display(surface, &palette, 0, 0, &gray, 0, 0, kDisplayDither);
    QtDisplaySurface::release_palette(palette);
    painter.end();
    const QImage copied = QtDisplaySurface::picture_image(gray);
    image_free(&gray);
    for (const QImage& image : {shown, copied}) {
        EXPECT_EQ(qGray(image.pixel(0, 0)), 0xFF);
        EXPECT_EQ(qGray(image.pixel(1, 0)), 0x01);
    }
}

}  // namespace
