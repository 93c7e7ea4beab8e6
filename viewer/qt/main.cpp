// Pelora: the desktop picture viewer.
#include "command_line.h"
#include "pelora_app.h"

int main(int argc, char** argv) {
    // Help and the version are answered before any window system is needed.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLine line = parse_command_line(arguments);
    if (line.request == CommandLine::Request::Help ||
        line.request == CommandLine::Request::Version) {
        return answer_command_line(line);
    }

    CPeloraApp app(argc, argv);
    if (!app.InitInstance()) {
        return app.start_status();
    }
    return app.exec();
}
