#include "document_object.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include "message_sink.h"

DocumentObject::DocumentObject() : document_(this) {
    document_.SetTitle();
}

DocumentObject::~DocumentObject() = default;

void DocumentObject::open(const QString& path) {
    identity_ = identity_of(path);
    const QByteArray local = QFile::encodeName(path);
    document_.open_file(std::string(local.constData(), static_cast<size_t>(local.size())));
}

QString DocumentObject::identity_of(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
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
