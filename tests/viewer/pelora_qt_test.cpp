// The desktop viewer's widgets under the offscreen platform.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <set>

#include "tests/support/test_support.h"
#include "tests/viewer/picture_files.h"
#include "tests/viewer/qt_test_support.h"
#include "viewer/core/picture_formats.h"
#include "viewer/qt/child_frame.h"
#include "viewer/qt/document_object.h"
#include "viewer/qt/main_frame.h"
#include "viewer/qt/message_sink.h"
#include "viewer/qt/pelora_app.h"
#include "viewer/qt/pelora_view.h"
#include "viewer/qt/picture_status_bar.h"
#include "viewer/qt/qt_display_surface.h"

using namespace imaging;
using namespace viewer;

namespace {

using test_pictures::Rgb;
using test_support::TempDir;

Rgb gradient(int32_t x, int32_t y) {
    return Rgb{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 90};
}

// Test pictures, written once, and the application under test, started with
// three of them on its command line, the last named with bytes that are not UTF-8.
struct Fixture {
    TempDir dir;
    std::string sky = (dir / "sky.bmp").string();
    std::string big = (dir / "big.bmp").string();
    std::string small = (dir / "small.bmp").string();
    std::string bytes_name = (dir / "\xff\xfe-small.bmp").string();
    std::vector<std::string> args;
    std::vector<char*> argv;
    int argc = 0;
    std::unique_ptr<CPeloraApp> app;

    Fixture() {
        test_pictures::write_rgb_bmp(sky, 320, 200, gradient);
        test_pictures::write_rgb_bmp(big, 1600, 1400, gradient);
        test_pictures::write_rgb_bmp(small, 100, 80, gradient);
        test_pictures::write_rgb_bmp(bytes_name, 100, 80, gradient);
        args = {"pelora", sky, small, bytes_name};
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argc = static_cast<int>(argv.size());
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Settings of its own (tests run in processes of their own at once): what
        // the program remembers goes to the scratch folder.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(dir.path().string()));
        app = std::make_unique<CPeloraApp>(argc, argv.data());
    }
};

Fixture& fixture() {
    static Fixture* instance = new Fixture;  // lives until the process ends
    return *instance;
}

QStringList menu_titles(QMainWindow& window) {
    QStringList titles;
    for (QAction* action : window.menuBar()->actions()) {
        titles << action->text();
    }
    return titles;
}

QStringList menu_items(QMainWindow& window, const QString& title) {
    QStringList items;
    for (QAction* action : window.menuBar()->actions()) {
        if (action->text() == title) {
            for (QAction* item : action->menu()->actions()) {
                items << (item->isSeparator() ? QStringLiteral("-") : item->text());
            }
        }
    }
    return items;
}

class ViewerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fixture();
        QSettings().clear();  // what one test chose does not carry over
    }
};

QAction* menu_action(QMainWindow& window, const QString& menu, const QString& item) {
    for (QAction* action : window.menuBar()->actions()) {
        if (action->text() == menu) {
            for (QAction* entry : action->menu()->actions()) {
                if (entry->text() == item) {
                    return entry;
                }
            }
        }
    }
    return nullptr;
}

void activate(QWidget& window) {
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

// Deletes closed windows and runs what was queued.
void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

TEST_F(ViewerTest, CommandLineFilesOpenAtStart) {
    ASSERT_TRUE(fixture().app->InitInstance());
    CMainFrame* frame = fixture().app->main_frame();
    const QList<QMdiSubWindow*> windows = frame->mdi_area()->subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(windows.size(), 3);
    EXPECT_EQ(windows[0]->windowTitle(), "sky.bmp (320 x 200 x 24, Color, No Palette, RGB image)");
    EXPECT_EQ(windows[1]->windowTitle(), "small.bmp (100 x 80 x 24, Color, No Palette, RGB image)");
    EXPECT_EQ(windows[2]->windowTitle(), QFile::decodeName("\xff\xfe-small.bmp") +
                                             " (100 x 80 x 24, Color, No Palette, RGB image)");
    // The active child's document completes the program's title.
    EXPECT_EQ(frame->windowTitle(), "Pelora - " + windows[2]->windowTitle());
    // The first size fits the screen's available area.
    EXPECT_TRUE(frame->screen()->availableGeometry().contains(frame->frameGeometry()));
}

TEST_F(ViewerTest, MenusFollowTheDocumentState) {
    CMainFrame frame;
    frame.show();
    EXPECT_EQ(menu_titles(frame), (QStringList{"&File", "&Help"}));
    EXPECT_EQ(menu_items(frame, "&File"), (QStringList{"&Open...", "-", "E&xit"}));
    EXPECT_EQ(menu_items(frame, "&Help"), (QStringList{"&About Pelora..."}));

    CChildFrame* child = frame.open_file(QString::fromStdString(fixture().sky));
    EXPECT_EQ(menu_titles(frame), (QStringList{"&File", "&Edit", "&View", "&Window", "&Help"}));
    EXPECT_EQ(menu_items(frame, "&File"),
              (QStringList{"&Open...", "&Close", "&Revert", "&Export...", "-", "&Next Picture",
                           "&Previous Picture", "-", "Preferences", "-", "E&xit"}));
    EXPECT_EQ(menu_items(frame, "&Edit"),
              (QStringList{"&Undo", "&Redo", "-", "&Copy", "-", "RGBToPalette", "ColorToGray",
                           "ReduceTo4Colors", "Resize"}));
    EXPECT_EQ(menu_items(frame, "&View"), (QStringList{"Zoom &In", "Zoom &Out", "&Actual Size", "-",
                                                       "&Fit to Window", "&Status Bar"}));
    EXPECT_EQ(menu_items(frame, "&Window").mid(0, 4),
              (QStringList{"&New Window", "&Cascade", "&Tile", "&Arrange Icons"}));

    child->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_EQ(menu_titles(frame), (QStringList{"&File", "&Help"}));
    EXPECT_EQ(frame.windowTitle(), "Pelora");
}

TEST_F(ViewerTest, EditCommandsRetitleAndReportFailures) {
    RecordingSink sink;
    CMainFrame frame;
    frame.show();
    CChildFrame* child = frame.open_file(QString::fromStdString(fixture().sky));
    CPeloraView* view = child->view();

    view->run_command(PictureCommand::ReduceTo4Colors);  // needs a palette picture
    EXPECT_EQ(view->last_status(), IMG_ERR_BPP);
    ASSERT_EQ(sink.messages.size(), 1);
    EXPECT_TRUE(sink.messages[0].startsWith("Error: 4294967270, 0xFFFFFFE6\nReduceTo4Colors"));

    view->run_command(PictureCommand::RGBToPalette);
    EXPECT_EQ(view->last_status(), IMG_OK);
    EXPECT_EQ(child->windowTitle(), "sky.bmp (320 x 200 x 8, Color, 256 colors in Palette)");

    view->run_command(PictureCommand::ColorToGray);
    EXPECT_EQ(child->windowTitle(), "sky.bmp (320 x 200 x 8, Gray, 256 colors in Palette)");

    view->run_command(PictureCommand::Resize);
    EXPECT_EQ(child->windowTitle(), "sky.bmp (133 x 65 x 8, Gray, 256 colors in Palette)");
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);  // ranges follow the new size
    EXPECT_EQ(sink.messages.size(), 1);
}

TEST_F(ViewerTest, SecondWindowOfADocumentNumbersTheTitles) {
    CMainFrame frame;
    frame.show();
    CChildFrame* first = frame.open_file(QString::fromStdString(fixture().small));
    CChildFrame* second = frame.new_window();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(&first->view()->document(), &second->view()->document());
    EXPECT_EQ(first->windowTitle(), "small.bmp (100 x 80 x 24, Color, No Palette, RGB image):1");
    EXPECT_EQ(second->windowTitle(), "small.bmp (100 x 80 x 24, Color, No Palette, RGB image):2");
}

TEST_F(ViewerTest, ScrollStepsAndThumb) {
    CMainFrame frame;
    frame.resize(1200, 900);
    frame.show();
    CChildFrame* child = frame.open_file(QString::fromStdString(fixture().big));
    CPeloraView* view = child->view();
    // Make the client area exactly 320 pixels wide.
    child->resize(child->width() - (view->viewport()->width() - 320), child->height());
    ASSERT_EQ(view->viewport()->width(), 320);
    QScrollBar* bar = view->horizontalScrollBar();
    EXPECT_EQ(bar->maximum(), 1600 - 320);

    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(bar->value(), 21);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(bar->value(), 23);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(bar->value(), 23 + 161);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(bar->value(), 1600 - 320);

    // Dragging the thumb does not move the picture until it is released.
    bar->setSliderDown(true);
    bar->setSliderPosition(300);
    EXPECT_EQ(bar->value(), 1600 - 320);
    bar->setSliderDown(false);
    EXPECT_EQ(bar->value(), 300);

    view->scroll(Qt::Horizontal, ScrollRequest::ToStart);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(ViewerTest, SmallPictureFitsItsWindowWithoutScrolling) {
    CMainFrame frame;
    frame.resize(1200, 900);
    frame.show();
    CChildFrame* child = frame.open_file(QString::fromStdString(fixture().small));
    CPeloraView* view = child->view();
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 0);
    // The window shrank to the picture, but not below what its title bar needs
    // to show its buttons and the start of its title.
    EXPECT_GE(view->viewport()->width(), 100);
    EXPECT_GT(child->minimumWidth(), child->minimumSizeHint().width());
    EXPECT_EQ(child->width(), child->minimumWidth());
    EXPECT_GE(view->viewport()->height(), 80);
    EXPECT_LE(view->viewport()->height(), 80 + 12);
}

TEST_F(ViewerTest, SeveralDroppedFilesOpenOnceTheDropIsOver) {
    CMainFrame frame;
    frame.show();
    CPeloraView* view = frame.open_file(QString::fromStdString(fixture().big))->view();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(fixture().sky)),
                  QUrl(QStringLiteral("https://example.com/remote.bmp")),
                  QUrl::fromLocalFile(QString::fromStdString(fixture().small)),
                  // A name that is not text reaches the file through its bytes.
                  QUrl::fromEncoded("file://" + QByteArray::fromStdString(fixture().dir.path()) +
                                    "/%FF%FE-small.bmp")});
    // Dropped on a picture: the main window takes it.
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &drop);
    EXPECT_EQ(frame.mdi_area()->subWindowList().size(), 1);
    settle();
    EXPECT_EQ(frame.mdi_area()->subWindowList().size(), 4);  // local ones, bytes-named too
}

TEST_F(ViewerTest, NonAsciiFileNamesOpen) {
    const QString name = QString::fromUtf8("Stra\u00dfe-\u00e9t\u00e9.bmp");
    const QString path = QString::fromStdString(fixture().dir.path().string()) + "/" + name;
    ASSERT_TRUE(QFile::copy(QString::fromStdString(fixture().small), path));
    RecordingSink sink;
    CMainFrame frame;
    frame.show();
    CChildFrame* child = frame.open_file(path);
    EXPECT_TRUE(sink.messages.isEmpty()) << sink.messages.join("; ").toStdString();
    EXPECT_EQ(child->windowTitle(), name + " (100 x 80 x 24, Color, No Palette, RGB image)");
}

TEST_F(ViewerTest, EveryShortcutDoesWhatItsMenuEntryShows) {
    CMainFrame frame;
    frame.show();
    activate(frame);
    frame.open_file(QString::fromStdString(fixture().sky));
    frame.open_file(QString::fromStdString(fixture().small));
    // Each action with a shortcut is an entry of a menu the bar shows.
    std::set<QAction*> entries;
    for (QAction* menu : frame.menuBar()->actions()) {
        const QList<QAction*> items = menu->menu()->actions();
        entries.insert(items.begin(), items.end());
    }
    for (QAction* action : frame.findChildren<QAction*>()) {
        EXPECT_TRUE(action->shortcuts().isEmpty() || entries.count(action) != 0)
            << action->text().toStdString();
    }
    EXPECT_EQ(menu_action(frame, "&File", "&Close")->shortcut().toString(), "Ctrl+F4");
    EXPECT_EQ(menu_action(frame, "&File", "E&xit")->shortcut().toString(), "Ctrl+Q");
    QTest::keyClick(&frame, Qt::Key_N, Qt::ControlModifier);  // no nameless new picture
    QTest::keyClick(&frame, Qt::Key_F4, Qt::ControlModifier);
    settle();
    ASSERT_EQ(frame.mdi_area()->subWindowList().size(), 1);
    EXPECT_TRUE(frame.mdi_area()->subWindowList()[0]->windowTitle().startsWith("sky.bmp"));
    QTest::keyClick(&frame, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(frame.isVisible());
}

TEST_F(ViewerTest, WindowMenuShowsNamesAsTheyAre) {
    const std::string path = (fixture().dir / "R&D plan.bmp").string();
    std::filesystem::copy_file(fixture().small, path);
    CMainFrame frame;
    frame.show();
    frame.open_file(QString::fromStdString(path));
    for (int i = 0; i < 10; ++i) {
        frame.new_window();
    }
    emit frame.menuBar()->actions()[3]->menu()->aboutToShow();  // File Edit View Window
    const QStringList items = menu_items(frame, "&Window");
    ASSERT_EQ(items.size(), 5 + 11);
    const QString title = "R&&D plan.bmp (100 x 80 x 24, Color, No Palette, RGB image)";
    EXPECT_EQ(items[5], "&1 " + title + ":1");
    EXPECT_EQ(items[14], "10 " + title + ":10");  // no mnemonic 1 for 10 and 11
}

// Every extension and alias of the viewer's formats, in any letter case, is
// matched by the Open dialog's first filter even where names are compared
// case-sensitively; the phone images have a filter of their own.
TEST_F(ViewerTest, OpenDialogMatchesEveryExtensionInAnyCase) {
    const QStringList filters = CMainFrame::open_filters();
    ASSERT_EQ(filters.size(), 3);
    auto matches = [](const QString& filter, const QString& name) {
        const QString patterns = filter.section(QLatin1Char('('), 1).chopped(1);
        for (const QString& pattern : patterns.split(QLatin1Char(' '))) {
            if (QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive)
                    .match(name)
                    .hasMatch()) {
                return true;
            }
        }
        return false;
    };
    for (const ReaderEntry& reader : viewer::picture_readers()) {
        for (const char* extension : reader_extensions(reader)) {
            const QString name = QStringLiteral("photo") + QString::fromLatin1(extension);
            const QString mixed = name.left(6) + name.at(6).toUpper() + name.mid(7);  // photo.Jpg
            for (const QString& spelled : {name, name.toUpper(), mixed}) {
                EXPECT_TRUE(matches(filters[0], spelled)) << spelled.toStdString();
            }
        }
    }
    EXPECT_FALSE(matches(filters[0], "photo.jp2"));
    EXPECT_TRUE(filters[1].startsWith("Qap Image Files ("));
    EXPECT_TRUE(matches(filters[1], "logo.Qap"));
    EXPECT_FALSE(matches(filters[1], "photo.jpg"));
    EXPECT_EQ(filters[2], "All files (*)");
}

}  // namespace

namespace {

std::string path_in(const std::string& name) {
    return (fixture().dir / name).string();
}

TEST_F(ViewerTest, MainTitleNamesTheActiveChild) {
    CMainFrame frame;
    frame.show();
    CChildFrame* child = frame.open_file(qpath(fixture().sky));
    const QString title = child->windowTitle();
    EXPECT_EQ(frame.windowTitle(), "Pelora - " + title);
    child->showMaximized();  // Qt shows a maximised child's title itself
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.windowTitle(), "Pelora - [" + title + "]");
    CChildFrame* small = frame.open_file(qpath(fixture().small));  // maximised like the other
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.windowTitle(), "Pelora - [" + small->windowTitle() + "]");
    small->showNormal();
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.windowTitle(), "Pelora - " + small->windowTitle());
}

TEST_F(ViewerTest, OpeningAnOpenFileActivatesItsWindow) {
    CMainFrame frame;
    frame.show();
    CChildFrame* sky = frame.open_file(qpath(fixture().sky));
    frame.open_file(qpath(fixture().small));
    EXPECT_EQ(frame.open_file(qpath((fixture().dir.path() / "." / "sky.bmp").string())), sky);
    // The same file through a linked folder.
    const TempDir links;
    std::filesystem::create_directory_symlink(fixture().dir.path(), links / "pictures");
    EXPECT_EQ(frame.open_file(qpath((links / "pictures" / "sky.bmp").string())), sky);
    EXPECT_EQ(frame.mdi_area()->subWindowList().size(), 2);
    EXPECT_EQ(frame.mdi_area()->activeSubWindow(), sky);
}

TEST_F(ViewerTest, OpenThatReadNothingLeavesNoWindow) {
    RecordingSink sink;
    CMainFrame frame;
    frame.show();
    EXPECT_EQ(frame.open_file(qpath(path_in("missing.bmp"))), nullptr);
    EXPECT_EQ(frame.open_file(qpath(path_in("photo.jp2"))), nullptr);
    EXPECT_EQ(frame.open_file(qpath(path_in("missing.qap"))), nullptr);  // its load ran
    EXPECT_TRUE(frame.mdi_area()->subWindowList().isEmpty());
    ASSERT_EQ(sink.messages.size(), 3);
    EXPECT_EQ(sink.messages[1], "Error: Unsupported file format .jp2");
    EXPECT_EQ(menu_titles(frame), (QStringList{"&File", "&Help"}));
    // A file cut short keeps its window with what was read, and says so.
    std::vector<uint8_t> bytes = test_support::read_file(fixture().sky);
    bytes.resize(bytes.size() / 2);
    test_support::write_file(path_in("cut.bmp"), bytes);
    EXPECT_NE(frame.open_file(qpath(path_in("cut.bmp"))), nullptr);
    ASSERT_EQ(sink.messages.size(), 4);
    EXPECT_EQ(sink.messages[3],
              "Error: cannot read all of cut.bmp: the file ended early or is damaged; the part "
              "that could be read is shown (status -62)");
}

TEST_F(ViewerTest, WindowsShowTheWholePictureAsItIsNow) {
    CMainFrame frame;
    frame.resize(1200, 900);
    frame.show();
    // Tiny pictures, allocated at 16 x 16, show whole without scroll bars.
    for (const QSize size : {QSize(1, 1), QSize(2, 3), QSize(10, 10)}) {
        const std::string file = path_in("tiny" + std::to_string(size.height()) + ".bmp");
        test_pictures::write_rgb_bmp(file, size.width(), size.height(), gradient);
        CPeloraView* view = frame.open_file(qpath(file))->view();
        EXPECT_TRUE(view->viewport()->width() >= 16 && view->viewport()->height() >= 16 &&
                    !view->horizontalScrollBar()->isVisible() &&
                    !view->verticalScrollBar()->isVisible())
            << size.width();
    }
    // So does one larger than a new window's first size, while the workspace has room.
    test_pictures::write_rgb_bmp(path_in("wide.bmp"), 1000, 700, gradient);
    CPeloraView* wide = frame.open_file(qpath(path_in("wide.bmp")))->view();
    EXPECT_FALSE(wide->horizontalScrollBar()->isVisible() ||
                 wide->verticalScrollBar()->isVisible());
    // New Window after Resize: sized for the picture as it is now.
    CPeloraView* big = frame.open_file(qpath(fixture().big))->view();
    big->run_command(PictureCommand::Resize);
    const QSize client = frame.new_window()->view()->viewport()->size();
    // At least as wide as the start of its title; as high as the picture and the slack.
    EXPECT_TRUE(client.width() >= 133 && client.width() < 300) << client.width();
    EXPECT_TRUE(client.height() >= 65 && client.height() <= 65 + 12) << client.height();
}

// The grays the view shows inside `area` of its client.
std::set<int> shown_grays(CPeloraView* view, const QRect& area) {
    const QImage shown = view->viewport()->grab().toImage();
    std::set<int> grays;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            grays.insert(qGray(shown.pixel(x, y)));
        }
    }
    return grays;
}

// Gives the view's window a client area of `size`.
void set_client(CChildFrame* child, QSize size) {
    child->resize(child->size() - child->view()->viewport()->size() + size);
    ASSERT_EQ(child->view()->viewport()->size(), size);
}

TEST_F(ViewerTest, FitToWindowScalesSmoothlyDownAndSharplyUp) {
    CMainFrame frame;
    frame.resize(1200, 900);
    frame.show();
    // A checkerboard of black and white pixels: any averaging shows as gray.
    test_pictures::write_rgb_bmp(path_in("checker.bmp"), 400, 300, [](int32_t x, int32_t y) {
        return (x + y) % 2 != 0 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    });
    CChildFrame* child = frame.open_file(qpath(path_in("checker.bmp")));
    CPeloraView* view = child->view();
    menu_action(frame, "&View", "&Fit to Window")->trigger();
    ASSERT_TRUE(view->fit());
    set_client(child, QSize(200, 200));  // half size, centred, nothing to scroll
    EXPECT_TRUE(view->shown_scale() == 0.5 && view->verticalScrollBar()->maximum() == 0);
    std::set<int> grays = shown_grays(view, QRect(0, 25, 200, 150));
    EXPECT_TRUE(*grays.begin() >= 126 && *grays.rbegin() <= 129);  // two black, two white
    set_client(child, QSize(800, 800));  // twice the size: square pixels, no blending
    EXPECT_EQ(shown_grays(view, QRect(0, 100, 800, 600)), (std::set<int>{0, 255}));
    EXPECT_EQ(view->picture_pixel_at(QPoint(3, 103)), QPoint(1, 1));
    // Zoom In leaves fit for the next power of two; reduced views are smooth too.
    view->step_zoom(1);
    EXPECT_EQ(view->zoom(), 2);
    view->set_zoom(-1);
    grays = shown_grays(view, QRect(0, 0, 200, 150));
    EXPECT_TRUE(*grays.begin() >= 126 && *grays.rbegin() <= 129);
    // New windows follow the remembered choice, at the picture's own size.
    EXPECT_TRUE(QSettings().value("view/fitToWindow").toBool());
    EXPECT_EQ(frame.open_file(qpath(fixture().small))->view()->shown_scale(), 1.0);
}

// The mouse over the view's client area: `button` changes, `buttons` are down.
void mouse(CPeloraView* view, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::NoButton,
           Qt::MouseButtons buttons = Qt::NoButton) {
    QMouseEvent event(type, at, view->viewport()->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &event);
}

TEST_F(ViewerTest, StatusBarShowsThePictureAndThePixelUnderThePointer) {
    CMainFrame frame;
    frame.show();
    auto* bar = qobject_cast<PictureStatusBar*>(frame.statusBar());
    ASSERT_FALSE(bar->isVisible());  // off at first: the first window is the plain one
    const PaletteEntry palette[2] = {{0, 0, 0, 0}, {0x10, 0x80, 0xF0, 0}};
    test_pictures::write_indexed_bmp(path_in("indexed.bmp"), 40, 30, palette, 2,
                                     [](int32_t x, int32_t) { return uint8_t(x % 2); });
    CPeloraView* view = frame.open_file(qpath(path_in("indexed.bmp")))->view();
    menu_action(frame, "&View", "&Status Bar")->trigger();
    EXPECT_TRUE(bar->isVisible() && QSettings().value("view/statusBar").toBool());
    EXPECT_EQ(bar->picture_text(), "40 x 30 pixels, 8 bits");
    mouse(view, QEvent::MouseMove, QPoint(5, 7));
    EXPECT_EQ(bar->pointer_text(), "5, 7: index 1, #F08010");
    view->set_zoom(-3);
    EXPECT_EQ(bar->scale_text(), "12.5 %");
    view->set_fit(true);
    EXPECT_EQ(bar->scale_text(), QStringLiteral("Fit %1 %").arg(qRound(view->shown_scale() * 100)));
    // The bar follows the active window: a true-colour picture shows its colour.
    CPeloraView* sky = frame.open_file(qpath(fixture().sky))->view();
    EXPECT_EQ(bar->picture_text(), "320 x 200 pixels, 24 bits");
    mouse(sky, QEvent::MouseMove, QPoint(12, 34));
    EXPECT_EQ(bar->pointer_text(), "12, 34: #0C225A");
}

TEST_F(ViewerTest, LeftButtonDragsALargePicture) {
    CMainFrame frame;
    frame.resize(1200, 900);
    frame.show();
    CPeloraView* view = frame.open_file(qpath(fixture().big))->view();
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::OpenHandCursor);
    mouse(view, QEvent::MouseButtonPress, QPoint(300, 300), Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::ClosedHandCursor);
    mouse(view, QEvent::MouseMove, QPoint(250, 260), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(view->horizontalScrollBar()->value(), 50);
    EXPECT_EQ(view->verticalScrollBar()->value(), 40);
    mouse(view, QEvent::MouseButtonRelease, QPoint(250, 260), Qt::LeftButton);
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::OpenHandCursor);
    // A picture the window holds whole does not move.
    CPeloraView* small = frame.open_file(qpath(fixture().small))->view();
    EXPECT_EQ(small->viewport()->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(ViewerTest, NextAndPreviousPictureBrowseTheFolderInNameOrder) {
    const std::filesystem::path folder = fixture().dir / "browse";
    std::filesystem::create_directory(folder);
    for (int n : {1, 2, 10}) {
        test_pictures::write_rgb_bmp(folder / ("p" + std::to_string(n) + ".bmp"), 10 * n, 20,
                                     gradient);
    }
    test_support::write_text(folder / "bad.bmp", "not a bitmap");
    RecordingSink sink;
    CMainFrame frame;
    frame.show();
    activate(frame);
    CChildFrame* child = frame.open_file(qpath((folder / "p1.bmp").string()));
    const auto title = [child] { return child->windowTitle().section(' ', 0, 0); };
    QTest::keyClick(&frame, Qt::Key_Space);
    QTest::keyClick(&frame, Qt::Key_Space);
    EXPECT_EQ(child->windowTitle(), "p10.bmp (100 x 20 x 24, Color, No Palette, RGB image)");
    EXPECT_GE(child->view()->viewport()->width(), 100);  // sized as an open would
    // Past the end to the first, telling of the file that could not be read.
    QTest::keyClick(&frame, Qt::Key_Space);
    EXPECT_EQ(title(), "p10.bmp");
    EXPECT_EQ(sink.messages, QStringList{"Error: cannot open bad.bmp: IMG_ERR_NOT_BMP (-27)"});
    QTest::keyClick(&frame, Qt::Key_Space);
    EXPECT_EQ(title(), "p1.bmp");
    QTest::keyClick(&frame, Qt::Key_Backspace);
    QTest::keyClick(&frame, Qt::Key_Backspace);
    EXPECT_EQ(title(), "p10.bmp");
    EXPECT_EQ(frame.mdi_area()->subWindowList().size(), 1);
}

TEST_F(ViewerTest, ColorToGrayKeepsPhoneLevelsAndCopyTakesThem) {
    CMainFrame frame;
    frame.show();
    QApplication::setActiveWindow(&frame);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    const auto logo = test_support::source_dir() / "examples" / "tarvo_logo.qap";
    CChildFrame* child = frame.open_file(qpath(logo.string()));
    child->view()->run_command(PictureCommand::ColorToGray);
    EXPECT_EQ(child->windowTitle(), "tarvo_logo.qap (133 x 65 x 8, Gray, 256 colors in Palette)");
    QTest::keyClick(&frame, Qt::Key_C, Qt::ControlModifier);
    const QImage copied = QGuiApplication::clipboard()->image();
    ASSERT_EQ(copied.size(), QSize(133, 65));
    std::set<int> levels;
    for (int y = 0; y < copied.height(); ++y) {
        for (int x = 0; x < copied.width(); ++x) {
            levels.insert(qGray(copied.pixel(x, y)));
        }
    }
    EXPECT_EQ(levels, (std::set<int>{0, 85, 170, 255}));
}

void turn_wheel(QWidget* target, int angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPointF at(5, 5);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

TEST_F(ViewerTest, WheelStepsAreEvenOverThePictureAndItsBar) {
    CMainFrame frame;
    frame.resize(1200, 900);
    frame.show();
    CPeloraView* view = frame.open_file(qpath(fixture().big))->view();
    QScrollBar* bar = view->verticalScrollBar();
    turn_wheel(view->viewport(), -120);
    const int notch = bar->value();
    EXPECT_EQ(notch, 3 * (view->viewport()->height() / 16));
    turn_wheel(view->viewport(), 120);
    EXPECT_EQ(bar->value(), 0);
    turn_wheel(bar, -120);
    EXPECT_EQ(bar->value(), notch);
    turn_wheel(view->viewport(), 120, Qt::ControlModifier);  // Ctrl zooms instead
    EXPECT_EQ(view->zoom(), 1);
    EXPECT_EQ(bar->value(), rezoomed_position(notch, view->viewport()->height(), 0, 1));
}

TEST_F(ViewerTest, NewWindowsOpenInsideTheWorkspace) {
    CMainFrame frame;
    frame.resize(500, 400);
    frame.show();
    frame.open_file(qpath(fixture().big));
    frame.new_window();
    frame.open_file(qpath(fixture().sky));
    const QRect area = frame.mdi_area()->viewport()->rect();
    for (QMdiSubWindow* window : frame.mdi_area()->subWindowList()) {
        EXPECT_TRUE(area.contains(window->geometry())) << window->windowTitle().toStdString();
    }
}

TEST_F(ViewerTest, ZoomDrawsSquarePixelsAndScrollsOverTheScaledPicture) {
    CMainFrame frame;
    frame.resize(1200, 900);
    frame.show();
    QApplication::setActiveWindow(&frame);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    const auto logo = test_support::source_dir() / "examples" / "tarvo_logo.qap";
    CPeloraView* view = frame.open_file(qpath(logo.string()))->view();
    const QImage picture = QtDisplaySurface::picture_image(view->document().image());
    QTest::keyClick(&frame, Qt::Key_Plus, Qt::ControlModifier);
    QTest::keyClick(&frame, Qt::Key_Plus, Qt::ControlModifier);
    ASSERT_EQ(view->zoom(), 2);
    const QSize client = view->viewport()->size();
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), std::max(0, 4 * 133 - client.width()));
    EXPECT_EQ(view->verticalScrollBar()->maximum(), std::max(0, 4 * 65 - client.height()));
    view->verticalScrollBar()->setValue(0);
    view->horizontalScrollBar()->setValue(6);  // picture column 1 starts 2 pixels in
    const QImage shown = view->viewport()->grab().toImage();
    for (int y = 0; y < client.height() / 4; ++y) {
        for (int x = 0; x + 2 < client.width(); ++x) {
            ASSERT_EQ(shown.pixel(x, y * 4 + 3), picture.pixel((x + 6) / 4, y)) << x << "," << y;
        }
    }
    QTest::keyClick(&frame, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(view->zoom(), 0);
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), std::max(0, 133 - client.width()));
    view->set_zoom(-10);
    EXPECT_EQ(view->zoom(), kZoomMin);
}

TEST_F(ViewerTest, ExportedPhoneImageIsTheToolsAndConverts) {
    RecordingSink sink;
    const std::string photo = path_in("photo.bmp");
    test_pictures::write_rgb_bmp(photo, 600, 400, gradient);
    const auto logo = (test_support::source_dir() / "examples" / "tarvo_logo.qap").string();
    struct Case {
        std::string file;
        std::vector<PictureCommand> commands;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {photo,
         {PictureCommand::Resize, PictureCommand::RGBToPalette, PictureCommand::ReduceTo4Colors},
         {"--resize", "--rgb-to-palette", "--reduce-to-4-colors"}},
        {logo, {PictureCommand::ReduceTo4Colors}, {"--reduce-to-4-colors"}},
    };
    for (const Case& c : cases) {
        CMainFrame frame;
        frame.show();
        CPeloraView* view = frame.open_file(qpath(c.file))->view();
        for (PictureCommand command : c.commands) {
            view->run_command(command);
        }
        const QString written = frame.export_active(
            qpath(path_in("out")),
            CMainFrame::export_format_of_filter(CMainFrame::export_filters()[0]));
        ASSERT_EQ(written, qpath(path_in("out.qap")));
        std::vector<std::string> args{"convert", c.file, path_in("tool.qap")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(test_support::run_program(PELORA_CLI_PATH, args).exit_status, 0);
        EXPECT_EQ(test_support::read_text(path_in("out.qap")),
                  test_support::read_text(path_in("tool.qap")));
        const auto gif =
            test_support::run_program(QAP2GIF_PATH, {path_in("out.qap"), path_in("out.gif")});
        EXPECT_NE(gif.out.find("Done!"), std::string::npos) << gif.out;
    }
    EXPECT_TRUE(sink.messages.isEmpty()) << sink.messages.join("; ").toStdString();
}

TEST_F(ViewerTest, ExportWritesBitmapAndPng) {
    RecordingSink sink;
    CMainFrame frame;
    frame.show();
    CPeloraView* view = frame.open_file(qpath(fixture().small))->view();
    const QImage picture = QtDisplaySurface::picture_image(view->document().image());
    EXPECT_EQ(frame.export_active(qpath(path_in("small-out.BMP")), ExportFormat::Bmp),
              qpath(path_in("small-out.BMP")));
    EXPECT_EQ(QImage(qpath(path_in("small-out.BMP"))).convertToFormat(picture.format()), picture);
    // Ctrl+E: the dialog's file type chooses the format and gives the name its extension.
    QApplication::setActiveWindow(&frame);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->selectNameFilter(CMainFrame::export_filters()[1]);
        dialog->selectFile(qpath(path_in("chosen")));
        static_cast<QDialog*>(dialog)->accept();
    });
    QTest::keyClick(&frame, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(QImage(qpath(path_in("chosen.bmp"))).convertToFormat(picture.format()), picture);
    // A name typed with another export type's extension is written in that type; a bare name
    // that would replace a file with the type's extension asks first.
    test_support::write_text(path_in("kept.qap"), "kept");
    // Says No to the question, once it is asked.
    const ModalAnswer<QMessageBox> answer(
        [](QMessageBox& box) { box.button(QMessageBox::No)->click(); });
    for (const char* typed : {"typed.png", "kept"}) {
        QApplication::setActiveWindow(&frame);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
        QTimer::singleShot(0, [typed] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->selectNameFilter(CMainFrame::export_filters()[0]);
            dialog->selectFile(qpath(path_in(typed)));
            static_cast<QDialog*>(dialog)->accept();
        });
        QTest::keyClick(&frame, Qt::Key_E, Qt::ControlModifier);
    }
    EXPECT_EQ(QImage(qpath(path_in("typed.png"))).convertToFormat(picture.format()), picture);
    EXPECT_EQ(test_support::read_text(path_in("kept.qap")), "kept");
    const QString png = frame.export_active(qpath(path_in("small-out")), ExportFormat::Png);
    EXPECT_EQ(png, qpath(path_in("small-out.png")));
    EXPECT_EQ(QImage(png).convertToFormat(picture.format()), picture);
}

TEST_F(ViewerTest, CommandLineHelpVersionAndUnknownOptions) {
    auto r = test_support::run_program(PELORA_PATH, {"--help"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out.rfind("Usage: pelora", 0), 0u) << r.out;
    r = test_support::run_program(PELORA_PATH, {"--version"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "Pelora Version 1.0\n");
    r = test_support::run_program(PELORA_PATH, {"-platform", "offscreen", "--bogus"});
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_NE(r.err.find("unknown option --bogus\nUsage: pelora"), std::string::npos) << r.err;
    // Without a display as well, past Qt's own options.
    r = test_support::run_program("/usr/bin/env",
                                  {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb",
                                   PELORA_PATH, "-style", "fusion", "--reverse", "--bogus"});
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_NE(r.err.find("unknown option --bogus\nUsage: pelora"), std::string::npos) << r.err;
}

}  // namespace
