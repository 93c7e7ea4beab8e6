// Pelora: the desktop picture viewer.
#include "command_line.h"
#include "pelora_app.h"

int main(int argc, char** argv) {
    // Help, the version and unknown options are answered before any window
    // system is needed, so they work without a display too.
    const CommandLine line = parse_command_line(without_qt_options(program_arguments(argc, argv)));
    if (line.request != CommandLine::Request::Open) {
        return answer_command_line(line);
    }

    CPeloraApp app(argc, argv);
    if (!app.InitInstance()) {
        return app.start_status();
    }
    return app.exec();
}
