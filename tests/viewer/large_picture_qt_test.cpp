// Pelora's question before it opens a picture above the pixel limit, under the
// offscreen platform: a real message box, answered by a click.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include "tests/support/test_support.h"
#include "tests/viewer/picture_files.h"
#include "viewer/qt/document_object.h"
#include "viewer/qt/message_sink.h"

using namespace viewer;

namespace {

// Messages are counted instead of shown; questions still go to message boxes.
struct CountingSink : MessageSink {
    void show(QWidget*, const QString&) override { ++shown; }
    int shown = 0;
};

// Clicks `button` of the next message box that comes up; its text goes to *text.
void answer_next_box(QMessageBox::StandardButton button, QString* text) {
    QTimer::singleShot(10, [button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            answer_next_box(button, text);  // not up yet
            return;
        }
        *text = box->text();
        box->button(button)->click();
    });
}

TEST(LargePicture, PeloraAsksBeforeOpeningAndNamesSizeAndMemory) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "large_picture_qt_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    test_support::TempDir dir;
    // 17000 x 17000 is above 16384 x 16384.
    test_pictures::write_empty_rle8_bmp(dir / "huge.bmp", 17000, 17000);
    const QString path = QString::fromStdString((dir / "huge.bmp").string());
    const QString question =
        "huge.bmp is 17000 x 17000 pixels and needs 276 MiB of memory. Open it all the same?";
    CountingSink sink;
    MessageSink::install(&sink);

    QString asked;
    answer_next_box(QMessageBox::No, &asked);
    DocumentObject declined;
    declined.open_local(QFile::encodeName(path));
    EXPECT_EQ(asked, question);
    EXPECT_FALSE(declined.file_was_read());
    EXPECT_EQ(declined.image().header->biWidth, 256);  // the new document's picture

    asked.clear();
    answer_next_box(QMessageBox::Yes, &asked);
    DocumentObject accepted;
    accepted.open_local(QFile::encodeName(path));
    EXPECT_EQ(asked, question);
    EXPECT_TRUE(accepted.file_was_read());
    EXPECT_EQ(accepted.image().header->biWidth, 17000);
    EXPECT_EQ(sink.shown, 0);  // declining is not an error to report
    MessageSink::install(nullptr);
}

}  // namespace
