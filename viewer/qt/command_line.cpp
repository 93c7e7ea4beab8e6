#include "command_line.h"

#include <QCoreApplication>

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

QString command_line_usage() {
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

QString command_line_version() {
    return QStringLiteral("Pelora Version 1.0\n");
}
