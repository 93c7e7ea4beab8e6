#include "viewer/qt/message_sink.h"

#include <QMessageBox>

namespace viewer {

namespace {

class MessageBoxSink : public MessageSink {
  public:
    void show(QWidget* parent, const QString& text) override {
        QMessageBox::warning(parent, QStringLiteral("Pelora"), text, QMessageBox::Ok);
    }
};

MessageBoxSink g_message_boxes;
MessageSink* g_sink = &g_message_boxes;

}  // namespace

bool MessageSink::ask(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QStringLiteral("Pelora"), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

MessageSink& MessageSink::current() {
    return *g_sink;
}

void MessageSink::install(MessageSink* sink) {
    g_sink = sink != nullptr ? sink : &g_message_boxes;
}

}  // namespace viewer
