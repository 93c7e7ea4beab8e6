// A message sink for the Qt tests: records the viewer's messages instead of
// showing message boxes, while it lives.
#pragma once

#include <QStringList>

#include "viewer/qt/message_sink.h"

class RecordingSink : public viewer::MessageSink {
  public:
    RecordingSink() { viewer::MessageSink::install(this); }
    ~RecordingSink() override { viewer::MessageSink::install(nullptr); }
    void show(QWidget*, const QString& text) override { messages << text; }
    QStringList messages;
};
