// A message sink for the Qt tests: records the viewer's messages instead of
// showing message boxes, while it lives.
#pragma once

#include <QStringList>

#include "message_sink.h"

class RecordingSink : public MessageSink {
  public:
    RecordingSink() { MessageSink::install(this); }
    ~RecordingSink() override { MessageSink::install(nullptr); }
    void show(QWidget*, const QString& text) override { messages << text; }
    QStringList messages;
};
