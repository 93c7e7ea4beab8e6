// Where the viewer's messages go: message boxes with an OK button (and
// questions with Yes and No), or, in tests, a recorder installed in their place.
#pragma once

#include <QString>

class QWidget;

namespace viewer {

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void show(QWidget* parent, const QString& text) = 0;
    // Asks a question with Yes and No buttons, No the default; true for Yes.
    virtual bool ask(QWidget* parent, const QString& text);

    // The sink in use; message boxes unless replaced.
    static MessageSink& current();

    // Replaces the sink (null restores message boxes). The sink is not owned.
    static void install(MessageSink* sink);
};

}  // namespace viewer
