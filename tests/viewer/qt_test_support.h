// What the Qt tests of the viewer share: a message sink that records instead
// of showing, readable QStrings in failures, paths as QStrings, and answers to
// the modal dialogs the viewer opens.
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <ostream>

#include "viewer/qt/message_sink.h"

// Records the viewer's messages instead of showing message boxes, while it lives.
class RecordingSink : public viewer::MessageSink {
  public:
    RecordingSink() { viewer::MessageSink::install(this); }
    ~RecordingSink() override { viewer::MessageSink::install(nullptr); }
    void show(QWidget*, const QString& text) override { messages << text; }
    QStringList messages;
};

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

inline QString qpath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

// While it lives, runs `act` on every modal dialog of type Dialog that comes
// up (looking every `interval_ms` while the event loop runs), and counts them.
template <typename Dialog>
class ModalAnswer {
  public:
    explicit ModalAnswer(std::function<void(Dialog&)> act, int interval_ms = 5) {
        QObject::connect(&timer_, &QTimer::timeout, [this, act = std::move(act)] {
            if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
                ++count_;
                act(*dialog);
            }
        });
        timer_.start(interval_ms);
    }
    int count() const { return count_; }

  private:
    QTimer timer_;
    int count_ = 0;
};
