#include "viewer/qt/command_line.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>

namespace viewer {

namespace {

constexpr int kExitUsage = 2;

// The options QApplication takes out of the arguments on the X11 platform
// (the others take out a part of them), written without their dash; Qt accepts
// one or two. Those of the first list take the next argument as their value;
// -style and -stylesheet also come as -style=VALUE.
constexpr const char* kQtValueOptions[] = {"platform",    "platformtheme",   "platformpluginpath",
                                           "plugin",      "session",         "style",
                                           "stylesheet",  "qwindowgeometry", "qwindowtitle",
                                           "qwindowicon", "geometry",        "title",
                                           "icon",        "display",         "name",
                                           "visual"};
constexpr const char* kQtFlagOptions[] = {"reverse", "widgetcount", "testability", "nograb",
                                          "dograb"};
constexpr const char* kQtValuePrefixes[] = {"style=", "stylesheet=", "qmljsdebugger="};

// The option's name without its one or two dashes; empty for a non-option.
QByteArray option_name(const QByteArray& argument) {
    if (argument.startsWith("--") && argument.size() > 2) {
        return argument.mid(2);
    }
    if (argument.startsWith('-') && argument.size() > 1 && argument[1] != '-') {
        return argument.mid(1);
    }
    return QByteArray();
}

// How many arguments a Qt option at `argument` takes up: 1 or 2 with its
// value, 0 when it is not one of Qt's.
int qt_option_length(const QByteArray& argument) {
    const QByteArray name = option_name(argument);
    if (name.isEmpty()) {
        return 0;
    }
    for (const char* option : kQtValueOptions) {
        if (name == option) {
            return 2;
        }
    }
    for (const char* option : kQtFlagOptions) {
        if (name == option) {
            return 1;
        }
    }
    for (const char* prefix : kQtValuePrefixes) {
        if (name.startsWith(prefix)) {
            return 1;
        }
    }
    return 0;
}

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

QList<QByteArray> program_arguments(int argc, char** argv) {
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QByteArray(argv[i]);
    }
    return arguments;
}

QList<QByteArray> without_qt_options(const QList<QByteArray>& arguments) {
    QList<QByteArray> rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--") {
            rest << arguments.mid(i);  // Qt reads on, but these are files
            break;
        }
        const int length = qt_option_length(arguments[i]);
        if (length == 0) {
            rest << arguments[i];
        }
        i += std::max(length - 1, 0);
    }
    return rest;
}

CommandLine parse_command_line(const QList<QByteArray>& arguments) {
    CommandLine line;
    bool options_end = false;
    for (const QByteArray& argument : arguments) {
        if (options_end || !argument.startsWith('-') || argument == "-") {
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
            // The option as given, byte for byte, then the usage.
            const QByteArray text =
                QCoreApplication::translate("CommandLine", "pelora: unknown option %1\n")
                    .toLocal8Bit()
                    .replace("%1", line.unknown) +
                usage_text().toLocal8Bit();
            std::fputs(text.constData(), stderr);
            return kExitUsage;
        }
        case CommandLine::Request::Open:
            break;
    }
    return 0;
}

}  // namespace viewer
