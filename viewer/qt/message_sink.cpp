#include "message_sink.h"

#include <QMessageBox>

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

MessageSink& MessageSink::current() {
    return *g_sink;
}

void MessageSink::install(MessageSink* sink) {
    g_sink = sink != nullptr ? sink : &g_message_boxes;
}
