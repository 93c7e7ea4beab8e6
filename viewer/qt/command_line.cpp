#include "command_line.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

constexpr int kExitUsage = 2;

QString usage_text() {
    return QCoreApplication::translate(
        "CommandLine",
        "Usage: pelora [--] [FILE]...\n"
        "       pelora --help | --version\n"
        "\n"
        "Opens each FILE in a window of its own: phone images (.qap) "
        "and the picture\n"
        "formats Pelora reads. Qt's own options (-platform, -style, "
        "...) are accepted.\n"
        "\n"
        "  -h, --help  print this help and exit\n"
        "  --version   print the version and exit\n"
        "  --          every later argument is a file\n");
}

}  // namespace

CommandLine parse_command_line(const QStringList& arguments) {
    CommandLine line;
    bool options_end = false;
    for (const QString& argument : arguments) {
        if (options_end || !argument.startsWith(QLatin1Char('-')) || argument == "-") {
            line.files << argument;
        } else if (argument == "--") {
            options_end = true;
        } else if (argument == "--help" || argument == "-h") {
            line.request = CommandLine::Request::Help;
            return line;
        } else if (argument == "--version") {
            line.request = CommandLine::Request::Version;
            return line;
        } else if (line.unknown.isEmpty()) {
            line.unknown = argument;
        }
    }
    if (!line.unknown.isEmpty()) {
        line.request = CommandLine::Request::UnknownOption;
    }
    return line;
}

int answer_command_line(const CommandLine& line) {
    switch (line.request) {
        case CommandLine::Request::Help:
            std::fputs(usage_text().toLocal8Bit().constData(), stdout);
            return 0;
        case CommandLine::Request::Version:
            std::fputs("Pelora Version 1.0\n", stdout);
            return 0;
        case CommandLine::Request::UnknownOption: {
            const QString text =
                QCoreApplication::translate("CommandLine", "pelora: unknown option %1\n")
                    .arg(line.unknown) +
                usage_text();
            std::fputs(text.toLocal8Bit().constData(), stderr);
            return kExitUsage;
        }
        case CommandLine::Request::Open:
            break;
    }
    return 0;
}
