// The desktop viewer's widgets under the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include "child_frame.h"
#include "main_frame.h"
#include "message_sink.h"
#include "pelora_app.h"
#include "pelora_view.h"
#include "picture_files.h"
#include "picture_formats.h"
#include "support/test_support.h"

using namespace imaging;

namespace {

using test_pictures::Rgb;
using test_support::TempDir;

Rgb gradient(int32_t x, int32_t y) {
    return Rgb{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 90};
}

// Test pictures, written once, and the application under test, started with
// two of them on its command line.
struct Fixture {
    TempDir dir;
    std::string sky = (dir / "sky.bmp").string();
    std::string big = (dir / "big.bmp").string();
    std::string small = (dir / "small.bmp").string();
    std::vector<std::string> args;
    std::vector<char*> argv;
    int argc = 0;
    std::unique_ptr<CPeloraApp> app;

    Fixture() {
        test_pictures::write_rgb_bmp(sky, 320, 200, gradient);
        test_pictures::write_rgb_bmp(big, 1000, 900, gradient);
        test_pictures::write_rgb_bmp(small, 100, 80, gradient);
        args = {"pelora", sky, small};
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argc = static_cast<int>(argv.size());
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<CPeloraApp>(argc, argv.data());
    }
};

Fixture& fixture() {
    static Fixture* instance = new Fixture;  // lives until the process ends
    return *instance;
}

class RecordingSink : public MessageSink {
  public:
    RecordingSink() { MessageSink::install(this); }
    ~RecordingSink() override { MessageSink::install(nullptr); }
    void show(QWidget*, const QString& text) override { messages << text; }
    QStringList messages;
};

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
    void SetUp() override { fixture(); }
};

TEST_F(ViewerTest, CommandLineFilesOpenAtStart) {
    ASSERT_TRUE(fixture().app->InitInstance());
    CMainFrame* frame = fixture().app->main_frame();
    const QList<QMdiSubWindow*> windows = frame->mdi_area()->subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(windows.size(), 2);
    EXPECT_EQ(windows[0]->windowTitle(), "sky.bmp (320 x 200 x 24, Color, No Palette, RGB image)");
    EXPECT_EQ(windows[1]->windowTitle(), "small.bmp (100 x 80 x 24, Color, No Palette, RGB image)");
    EXPECT_EQ(frame->windowTitle(), "Pelora");
}

TEST_F(ViewerTest, MenusFollowTheDocumentState) {
    CMainFrame frame;
    frame.show();
    EXPECT_EQ(menu_titles(frame), (QStringList{"&File", "&Help"}));
    EXPECT_EQ(menu_items(frame, "&File"), (QStringList{"&Open...", "-", "E&xit"}));
    EXPECT_EQ(menu_items(frame, "&Help"), (QStringList{"&About Pelora..."}));

    CChildFrame* child = frame.open_file(QString::fromStdString(fixture().sky));
    EXPECT_EQ(menu_titles(frame), (QStringList{"&File", "&Edit", "&Window", "&Help"}));
    EXPECT_EQ(menu_items(frame, "&File"),
              (QStringList{"&Open...", "&Close", "-", "Preferences", "-", "E&xit"}));
    EXPECT_EQ(menu_items(frame, "&Edit"),
              (QStringList{"RGBToPalette", "ColorToGray", "ReduceTo4Colors", "Resize"}));
    EXPECT_EQ(menu_items(frame, "&Window").mid(0, 4),
              (QStringList{"&New Window", "&Cascade", "&Tile", "&Arrange Icons"}));

    child->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_EQ(menu_titles(frame), (QStringList{"&File", "&Help"}));
}

TEST_F(ViewerTest, EditCommandsRetitleAndReportFailures) {
    RecordingSink sink;
    CMainFrame frame;
    frame.show();
    CChildFrame* child = frame.open_file(QString::fromStdString(fixture().sky));
    CPeloraView* view = child->view();

    view->run_command(PictureCommand::ReduceTo4Colors);  // needs a palette picture
    EXPECT_EQ(view->last_status(), IMG_ERR_BPP);
    EXPECT_EQ(sink.messages, QStringList{"Error: 4294967270, 0xFFFFFFE6"});

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
    // Make the client area exactly 160 pixels wide.
    child->resize(child->width() - (view->viewport()->width() - 160), child->height());
    ASSERT_EQ(view->viewport()->width(), 160);
    QScrollBar* bar = view->horizontalScrollBar();
    EXPECT_EQ(bar->maximum(), 1000 - 160);

    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(bar->value(), 11);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(bar->value(), 13);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(bar->value(), 13 + 81);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(bar->value(), 840);

    // Dragging the thumb does not move the picture until it is released.
    bar->setSliderDown(true);
    bar->setSliderPosition(300);
    EXPECT_EQ(bar->value(), 840);
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
    // The window shrank to the picture: a few pixels of slack at most.
    EXPECT_GE(view->viewport()->width(), 100);
    EXPECT_LE(view->viewport()->width(), 100 + 12);
    EXPECT_GE(view->viewport()->height(), 80);
    EXPECT_LE(view->viewport()->height(), 80 + 12);
}

TEST_F(ViewerTest, DroppedFilesOpen) {
    CMainFrame frame;
    frame.show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(fixture().sky)),
                  QUrl(QStringLiteral("https://example.com/remote.bmp")),
                  QUrl::fromLocalFile(QString::fromStdString(fixture().small))});
    EXPECT_TRUE(frame.acceptDrops());
    frame.open_dropped(data);
    EXPECT_EQ(frame.mdi_area()->subWindowList().size(), 2);  // local files only
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

TEST_F(ViewerTest, AcceleratorsOpenANewDocument) {
    CMainFrame frame;
    frame.show();
    QApplication::setActiveWindow(&frame);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QTest::keyClick(&frame, Qt::Key_N, Qt::ControlModifier);
    ASSERT_EQ(frame.mdi_area()->subWindowList().size(), 1);
    EXPECT_EQ(frame.mdi_area()->subWindowList()[0]->windowTitle(),
              " (256 x 240 x 8, Gray, 256 colors in Palette)");
}

TEST_F(ViewerTest, OpenDialogListsEveryExtensionInBothCases) {
    const QStringList filters = CMainFrame::open_filters();
    ASSERT_EQ(filters.size(), 3);
    for (const ReaderEntry& reader : picture_readers()) {
        const QString pattern = QStringLiteral("*") + QString::fromLatin1(reader.extension);
        EXPECT_TRUE(filters[0].contains(pattern)) << reader.extension;
        EXPECT_TRUE(filters[0].contains(pattern.toUpper())) << reader.extension;
    }
    EXPECT_EQ(filters[2], "All files (*)");
}

}  // namespace
