// The application object: library start-up and shutdown, settings, and the
// files to open at start.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <memory>

namespace viewer {

class CMainFrame;

class CPeloraApp : public QApplication {
    Q_OBJECT

  public:
    CPeloraApp(int& argc, char** argv);
    ~CPeloraApp() override;

    // Creates and shows the main frame, its window frame inside the screen's
    // available area, and opens the files named on the command line (none: an
    // empty main frame). Returns false when start-up fails, with start_status()
    // the exit status: an unknown option has printed the usage.
    bool InitInstance();
    int start_status() const { return start_status_; }

    CMainFrame* main_frame() const { return main_frame_.get(); }

  private:
    QList<QByteArray> arguments_;  // after the program's name and Qt's own options
    std::unique_ptr<CMainFrame> main_frame_;
    int start_status_ = 1;
};

}  // namespace viewer
