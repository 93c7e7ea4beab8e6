// The application object: library start-up and shutdown, settings, and the
// files to open at start.
#pragma once

#include <QApplication>
#include <memory>

class CMainFrame;

class CPeloraApp : public QApplication {
    Q_OBJECT

  public:
    CPeloraApp(int& argc, char** argv);
    ~CPeloraApp() override;

    // Creates and shows the main frame and opens the files named on the
    // command line (none: an empty main frame). Returns false when start-up fails.
    bool InitInstance();

    CMainFrame* main_frame() const { return main_frame_.get(); }

  private:
    std::unique_ptr<CMainFrame> main_frame_;
};
