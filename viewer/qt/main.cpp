// Pelora: the desktop picture viewer.
#include "viewer/qt/command_line.h"
#include "viewer/qt/pelora_app.h"

int main(int argc, char** argv) {
    // Help, the version and unknown options are answered before any window
    // system is needed, so they work without a display too.
    const viewer::CommandLine line = viewer::parse_command_line(
        viewer::without_qt_options(viewer::program_arguments(argc, argv)));
    if (line.request != viewer::CommandLine::Request::Open) {
        return viewer::answer_command_line(line);
    }

    viewer::CPeloraApp app(argc, argv);
    if (!app.InitInstance()) {
        return app.start_status();
    }
    return app.exec();
}
