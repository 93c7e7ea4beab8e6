#include "viewer/qt/document_object.h"

#include <QApplication>
#include <QFile>
#include <filesystem>
#include <system_error>

#include "viewer/qt/message_sink.h"

namespace viewer {

DocumentObject::DocumentObject() : document_(this) {
    document_.SetTitle();
}

DocumentObject::~DocumentObject() = default;

void DocumentObject::open_local(const QByteArray& path) {
    identity_ = identity_of(path);
    std::error_code error;
    path_ = QByteArray::fromStdString(
        std::filesystem::absolute(path.toStdString(), error).lexically_normal().string());
    document_.open_file(path.toStdString());
}

QString DocumentObject::file_identity() const {
    return QFile::decodeName(identity_);
}

QByteArray DocumentObject::identity_of(const QByteArray& path) {
    // Byte paths throughout: a name need not decode to text to name its file.
    const std::filesystem::path file(path.toStdString());
    std::error_code error;
    std::filesystem::path identity = std::filesystem::canonical(file, error);
    if (error) {
        identity = std::filesystem::absolute(file, error).lexically_normal();
    }
    return QByteArray::fromStdString(identity.string());
}

bool DocumentObject::file_was_read() const {
    return document_.open_outcome().picture_read();
}

void DocumentObject::run_command(PictureCommand command) {
    last_status_ = document_.run_command(command);
}

QString DocumentObject::title() const {
    return QFile::decodeName(QByteArray::fromStdString(document_.title()));
}

void DocumentObject::show_message(const std::string& text) {
    MessageSink::current().show(QApplication::activeWindow(),
                                QFile::decodeName(QByteArray::fromStdString(text)));
}

void DocumentObject::title_changed(const std::string& title) {
    emit titleChanged(QFile::decodeName(QByteArray::fromStdString(title)));
}

void DocumentObject::update_all_views() {
    emit pictureChanged();
}

// A picture above the pixel limit opens only when the user agrees.
bool DocumentObject::open_large_picture(const LargePicture& picture) {
    const QString size =
        QFile::decodeName(QByteArray::fromStdString(describe_large_picture(picture)));
    return MessageSink::current().ask(QApplication::activeWindow(),
                                      size + QLatin1Char(' ') + tr("Open it all the same?"));
}

}  // namespace viewer
