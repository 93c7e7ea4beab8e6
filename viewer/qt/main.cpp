// Pelora: the desktop picture viewer.
#include <cstdio>

#include "command_line.h"
#include "pelora_app.h"

int main(int argc, char** argv) {
    // Help and the version are answered before any window system is needed.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLine line = parse_command_line(arguments);
    if (line.request == CommandLine::Request::Help) {
        std::fputs(command_line_usage().toLocal8Bit().constData(), stdout);
        return kExitHelp;
    }
    if (line.request == CommandLine::Request::Version) {
        std::fputs(command_line_version().toLocal8Bit().constData(), stdout);
        return kExitHelp;
    }

    CPeloraApp app(argc, argv);
    if (!app.InitInstance()) {
        return app.start_status();
    }
    return app.exec();
}
