// Where the viewer's messages go: message boxes with an OK button, or, in
// tests, a recorder installed in their place.
#pragma once

#include <QString>

class QWidget;

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void show(QWidget* parent, const QString& text) = 0;

    // The sink in use; message boxes unless replaced.
    static MessageSink& current();

    // Replaces the sink (null restores message boxes). The sink is not owned.
    static void install(MessageSink* sink);
};
