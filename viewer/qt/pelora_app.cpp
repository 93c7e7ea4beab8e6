#include "viewer/qt/pelora_app.h"

#include <QIcon>
#include <QSettings>

#include "imaging/image.h"
#include "viewer/qt/command_line.h"
#include "viewer/qt/main_frame.h"
#include "viewer/qt/screen_fit.h"

using namespace imaging;

namespace viewer {

namespace {

constexpr char kOrganisation[] = "Tarvo Systems, Inc.";
constexpr char kApplicationId[] = "com.tarvosystems.Pelora";
const QSize kInitialSize(960, 680);

}  // namespace

CPeloraApp::CPeloraApp(int& argc, char** argv)
    : QApplication(argc, argv), arguments_(program_arguments(argc, argv)) {
    platform_detect();
    setOrganizationName(QString::fromLatin1(kOrganisation));
    setApplicationName(QStringLiteral("Pelora"));
    setApplicationVersion(QStringLiteral("1.0"));
    // Lets Wayland compositors match the windows with the installed .desktop file.
    setDesktopFileName(QString::fromLatin1(kApplicationId));
    setWindowIcon(QIcon(QStringLiteral(":/pelora/icon.png")));
}

CPeloraApp::~CPeloraApp() {
    main_frame_.reset();  // every document is freed before the library shuts down
    library_shutdown();
}

bool CPeloraApp::InitInstance() {
    const CommandLine line = parse_command_line(arguments_);
    if (line.request != CommandLine::Request::Open) {
        start_status_ = answer_command_line(line);
        return false;
    }

    QSettings settings;  // the settings key; no recent-files list is kept
    main_frame_ = std::make_unique<CMainFrame>();
    main_frame_->resize(kInitialSize);
    show_within_screen(*main_frame_);
    for (const QByteArray& file : line.files) {
        main_frame_->open_local_file(file);
    }
    return true;
}

}  // namespace viewer
