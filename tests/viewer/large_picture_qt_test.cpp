// Pelora's question before it opens a picture above the pixel limit, under the
// offscreen platform: a real message box, answered by a click.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>

#include "tests/support/test_support.h"
#include "tests/viewer/picture_files.h"
#include "tests/viewer/qt_test_support.h"
#include "viewer/qt/document_object.h"

using namespace viewer;

namespace {

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
    RecordingSink sink;  // questions still go to message boxes

    QString asked;
    // Answers the question with `button`, noting its text.
    const auto answering = [&asked](QMessageBox::StandardButton button) {
        return [&asked, button](QMessageBox& box) {
            asked = box.text();
            box.button(button)->click();
        };
    };
    DocumentObject declined;
    {
        const ModalAnswer<QMessageBox> answer(answering(QMessageBox::No));
        declined.open_local(QFile::encodeName(path));
    }
    EXPECT_EQ(asked, question);
    EXPECT_FALSE(declined.file_was_read());
    EXPECT_EQ(declined.image().header->biWidth, 256);  // the new document's picture

    asked.clear();
    DocumentObject accepted;
    {
        const ModalAnswer<QMessageBox> answer(answering(QMessageBox::Yes));
        accepted.open_local(QFile::encodeName(path));
    }
    EXPECT_EQ(asked, question);
    EXPECT_TRUE(accepted.file_was_read());
    EXPECT_EQ(accepted.image().header->biWidth, 17000);
    EXPECT_TRUE(sink.messages.isEmpty());  // declining is not an error to report
}

}  // namespace
