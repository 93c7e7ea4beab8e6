// Pelora's command line: files to open, or a request for help or the version.
//
//   pelora [--] [FILE]...
//   pelora --help | --version
//
// Qt's own options (-platform, -style...) belong to QApplication; any other
// argument starting with '-' before "--" is an unknown option. Arguments stay
// the bytes the program was given, so that a file name that is not valid in
// the locale's encoding still names its file.
#pragma once

#include <QByteArray>
#include <QList>

namespace viewer {

struct CommandLine {
    enum class Request {
        Open,           // open `files` (none: an empty main window)
        Help,           // print the usage and exit 0
        Version,        // print the version and exit 0
        UnknownOption,  // print `unknown` and the usage and exit 2
    };
    Request request = Request::Open;
    QList<QByteArray> files;
    QByteArray unknown;
};

// The arguments after the program name, as bytes.
QList<QByteArray> program_arguments(int argc, char** argv);

// The arguments without Qt's own options and their values, as QApplication
// takes them out, so that the command line can be answered before any window
// system is needed.
QList<QByteArray> without_qt_options(const QList<QByteArray>& arguments);

// Reads the arguments after the program name. Help and version win over
// everything else, wherever they stand before "--".
CommandLine parse_command_line(const QList<QByteArray>& arguments);

// Answers a request other than Open: help and the version on standard output,
// an unknown option and the usage on standard error. Returns the exit status:
// 0, or 2 for an unknown option.
int answer_command_line(const CommandLine& line);

}  // namespace viewer
