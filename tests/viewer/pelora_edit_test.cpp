// Undo, redo and revert, exports on a worker thread, the settings kept from
// one run to the next, and how 16-bit gray is drawn: the desktop viewer under
// the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QFileDialog>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <functional>

#include "child_frame.h"
#include "main_frame.h"
#include "pelora_app.h"
#include "pelora_view.h"
#include "picture_files.h"
#include "qt_display_surface.h"
#include "recording_sink.h"
#include "support/test_support.h"

using namespace imaging;

// Readable QStrings in failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using test_pictures::Rgb;
using test_support::TempDir;

QString qpath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

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

Rgb gradient(int32_t x, int32_t y) {
    return Rgb{static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x ^ y)};
}

// Noise that no coder shrinks much: a long PNG export.
Rgb noise(int32_t x, int32_t y) {
    const uint32_t h = (static_cast<uint32_t>(x) * 2654435761u) ^ (static_cast<uint32_t>(y) * 40503u);
    return Rgb{static_cast<uint8_t>(h >> 24), static_cast<uint8_t>(h >> 16),
               static_cast<uint8_t>(h >> 8)};
}

// Answers every question box with `button` while it lives, counting them.
class Answer {
  public:
    explicit Answer(QMessageBox::StandardButton button) {
        QObject::connect(&timer_, &QTimer::timeout, [this, button] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ++asked;
                box->button(button)->click();
            }
        });
        timer_.start(5);
    }
    int asked = 0;

  private:
    QTimer timer_;
};

// Runs `inspect` on the next file dialog that opens, then closes it with
// `accept`.
void on_next_file_dialog(std::function<void(QFileDialog&)> inspect, bool accept) {
    auto* wait = new QTimer;
    QObject::connect(wait, &QTimer::timeout, [wait, inspect, accept] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        wait->deleteLater();
        wait->stop();
        inspect(*dialog);
        if (accept) {
            static_cast<QDialog*>(dialog)->accept();
        } else {
            dialog->reject();
        }
    });
    wait->start(5);
}

class EditTest : public ::testing::Test {
  protected:
    void SetUp() override {
        frame.show();
        activate(frame);
    }

    static void activate(CMainFrame& window) {
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    QAction* edit_action(const QString& prefix) {
        for (QAction* menu : frame.menuBar()->actions()) {
            if (menu->text() != "&Edit" && menu->text() != "&File") {
                continue;
            }
            for (QAction* item : menu->menu()->actions()) {
                if (item->text().startsWith(prefix)) {
                    return item;
                }
            }
        }
        ADD_FAILURE() << prefix.toStdString();
        return nullptr;
    }

    // A key on the frame, made active again (a dialog that closed may have
    // left no window active).
    static void key(CMainFrame& window, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        activate(window);
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
    test_pictures::write_rgb_bmp(dir / "sky.bmp", 320, 200, gradient);
    CChildFrame* child = frame.open_file(qpath(dir / "sky.bmp"));
    CChildFrame* second = frame.new_window();
    frame.mdi_area()->setActiveSubWindow(child);
    QStringList titles{child->view()->document().title()};
    std::vector<QImage> pictures{picture_of(child)};
    EXPECT_FALSE(edit_action("&Undo")->isEnabled());
    for (PictureCommand command : {PictureCommand::RGBToPalette, PictureCommand::ColorToGray,
                                   PictureCommand::ReduceTo4Colors, PictureCommand::Resize}) {
        child->view()->run_command(command);
        titles << child->view()->document().title();
        pictures.push_back(picture_of(child));
    }
    EXPECT_EQ(edit_action("&Undo")->text(), "&Undo Resize");

    for (int step = 3; step >= 0; --step) {
        key(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(child->windowTitle(), titles[step] + ":1") << step;
        EXPECT_EQ(second->windowTitle(), titles[step] + ":2") << step;
        EXPECT_EQ(picture_of(second), pictures[size_t(step)]) << step;
    }
    EXPECT_FALSE(edit_action("&Undo")->isEnabled());
    EXPECT_EQ(edit_action("&Redo")->text(), "&Redo RGBToPalette");

    // Both redo keys, alternately.
    for (int step = 1; step <= 4; ++step) {
        if (step % 2 == 1) {
            key(Qt::Key_Y, Qt::ControlModifier);
        } else {
            key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        }
        EXPECT_EQ(frame.windowTitle(), "Pelora - " + titles[step]) << step;
        EXPECT_EQ(picture_of(child), pictures[size_t(step)]) << step;
    }
    EXPECT_FALSE(edit_action("&Redo")->isEnabled());

    // A new change forgets what was undone.
    key(Qt::Key_Z, Qt::ControlModifier);
    key(Qt::Key_Z, Qt::ControlModifier);
    child->view()->run_command(PictureCommand::Resize);
    EXPECT_FALSE(edit_action("&Redo")->isEnabled());
    EXPECT_EQ(edit_action("&Undo")->text(), "&Undo Resize");
}

TEST_F(EditTest, MemoryBudgetKeepsTheNewestSteps) {
    test_pictures::write_rgb_bmp(dir / "sky.bmp", 320, 200, gradient);
    // Storage of the picture at 24 bits, and at 8 bits with its colour table.
    constexpr size_t kTrueColour = 40 + 320 * 3 * 200;
    constexpr size_t kPalette = 40 + 1024 + 320 * 200;
    struct Case {
        size_t budget;
        int undo_steps;  // of RGBToPalette, ColorToGray, ReduceTo4Colors
    };
    for (const Case c : {Case{EditHistory::kDefaultBudget, 3},
                         Case{kTrueColour + 3 * kPalette, 3},
                         Case{kTrueColour + 3 * kPalette - 1, 2},  // the first step dropped
                         Case{kTrueColour + kPalette - 1, 2}, Case{2 * kPalette - 1, 0}}) {
        CChildFrame* child = frame.open_file(qpath(dir / "sky.bmp"));
        DocumentObject& document = child->view()->document();
        document.set_history_budget(c.budget);
        for (PictureCommand command : {PictureCommand::RGBToPalette, PictureCommand::ColorToGray,
                                       PictureCommand::ReduceTo4Colors}) {
            document.run_command(command);
            const EditHistory& history = document.document().history();
            EXPECT_LE(history.step_bytes() + kPalette, std::max(c.budget, kPalette));
        }
        const QString last = document.title();
        int undone = 0;
        while (edit_action("&Undo")->isEnabled()) {
            key(Qt::Key_Z, Qt::ControlModifier);
            ++undone;
        }
        EXPECT_EQ(undone, c.undo_steps) << c.budget;
        for (int i = 0; i < undone; ++i) {
            key(Qt::Key_Y, Qt::ControlModifier);
        }
        EXPECT_EQ(document.title(), last) << c.budget;
        child->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(EditTest, RevertAsksOnlyWhenChangedAndUndoBringsTheChangesBack) {
    RecordingSink sink;
    const auto path = dir / "photo.bmp";
    test_pictures::write_rgb_bmp(path, 60, 40, gradient);
    CChildFrame* child = frame.open_file(qpath(path));
    DocumentObject& document = child->view()->document();
    const QString original = document.title();
    {
        Answer no(QMessageBox::No);
        frame.revert_active();  // nothing changed: reloads without asking
        EXPECT_EQ(no.asked, 0);
        document.run_command(PictureCommand::RGBToPalette);
        frame.revert_active();
        EXPECT_EQ(no.asked, 1);
        EXPECT_EQ(document.title(), "photo.bmp (60 x 40 x 8, Color, 256 colors in Palette)");
    }
    {
        Answer yes(QMessageBox::Yes);
        frame.revert_active();
        EXPECT_EQ(yes.asked, 1);
    }
    EXPECT_EQ(document.title(), original);
    EXPECT_EQ(edit_action("&Undo")->text(), "&Undo Revert");
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(document.title(), "photo.bmp (60 x 40 x 8, Color, 256 colors in Palette)");

    // The file as it is now, however it changed; a file gone leaves the picture.
    test_pictures::write_rgb_bmp(path, 50, 30, gradient);
    {
        Answer yes(QMessageBox::Yes);
        frame.revert_active();
    }
    EXPECT_EQ(document.title(), "photo.bmp (50 x 30 x 24, Color, No Palette, RGB image)");
    std::filesystem::remove(path);
    frame.revert_active();
    EXPECT_EQ(document.title(), "photo.bmp (50 x 30 x 24, Color, No Palette, RGB image)");
    EXPECT_EQ(sink.messages, QStringList{"Error: cannot open photo.bmp: IMG_ERR_OPEN (-4)"});

    frame.new_document();  // no file to go back to
    EXPECT_FALSE(edit_action("&Revert")->isEnabled());
}

std::vector<std::string> names_in(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
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
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->isVisible()) {
            busy = QApplication::overrideCursor() != nullptr &&
                   QApplication::overrideCursor()->shape() == Qt::BusyCursor;
            dialog->findChild<QPushButton*>()->click();
        }
    });
    cancel.start(1);
    EXPECT_EQ(frame.export_active(qpath(out / "old.png"), ExportFormat::Png), QString());
    cancel.stop();
    EXPECT_TRUE(busy);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(test_support::read_text(out / "old.png"), "the old file");
    EXPECT_EQ(names_in(out.path()), std::vector<std::string>{"old.png"});
    EXPECT_TRUE(sink.messages.isEmpty());

    // Not cancelled, the same export replaces the file.
    EXPECT_EQ(frame.export_active(qpath(out / "old.png"), ExportFormat::Png),
              qpath(out / "old.png"));
    EXPECT_EQ(QImage(qpath(out / "old.png")).convertToFormat(QImage::Format_BGR888),
              picture_of(child));
    EXPECT_EQ(names_in(out.path()), std::vector<std::string>{"old.png"});
}

TEST_F(EditTest, ExportAndOpenRememberTheirChoicesAcrossRestarts) {
    test_pictures::write_rgb_bmp(dir / "sky.bmp", 30, 20, gradient);
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
    const QString stored = test_support::read_text(fixture().dir / "settings" /
                                                   "Tarvo Systems, Inc." / "Pelora.conf")
                               .c_str();
    EXPECT_TRUE(stored.contains("Type=.png")) << stored.toStdString();
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

// An uncompressed 16-bit gray TIFF (little-endian, black is zero), one strip.
void write_gray16_tiff(const std::filesystem::path& path, uint16_t width, uint16_t height,
                       const std::function<uint16_t(int, int)>& sample) {
    struct Entry {
        uint16_t tag, type;  // type 3 SHORT, 4 LONG
        uint32_t value;
    };
    const uint32_t data_offset = 8 + 2 + 9 * 12 + 4;
    const Entry entries[9] = {{256, 3, width},       {257, 3, height}, {258, 3, 16},
                              {259, 3, 1},           {262, 3, 1},      {273, 4, data_offset},
                              {277, 3, 1},           {278, 3, height},
                              {279, 4, 2u * width * height}};
    std::vector<uint8_t> bytes = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
    const auto put = [&bytes](uint32_t value, int size) {
        for (int i = 0; i < size; ++i) {
            bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    };
    for (const Entry& e : entries) {
        put(e.tag, 2);
        put(e.type, 2);
        put(1, 4);
        put(e.value, 4);  // a SHORT sits in the first two bytes
    }
    put(0, 4);  // no next directory
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            put(sample(x, y), 2);
        }
    }
    test_support::write_file(path, bytes);
}

TEST_F(EditTest, SixteenBitGrayIsDrawnAndCopiedByItsHighByte) {
    // Samples whose rounded level is not their high byte.
    write_gray16_tiff(dir / "gray16.tif", 16, 16,
                      [](int x, int) { return x < 8 ? uint16_t{0xFF00} : uint16_t{0x01FF}; });
    CChildFrame* child = frame.open_file(qpath(dir / "gray16.tif"));
    ASSERT_EQ(image_bits(child->view()->document().image()), 16);
    const QImage shown = child->view()->viewport()->grab().toImage();
    EXPECT_EQ(qGray(shown.pixel(2, 2)), 0xFF);
    EXPECT_EQ(qGray(shown.pixel(10, 2)), 0x01);
    key(Qt::Key_C, Qt::ControlModifier);
    const QImage copied = QGuiApplication::clipboard()->image();
    EXPECT_EQ(qGray(copied.pixel(2, 2)), 0xFF);
    EXPECT_EQ(qGray(copied.pixel(10, 2)), 0x01);
}

}  // namespace
