// Pelora's command line: files to open, or a request for help or the version.
//
//   pelora [--] [FILE]...
//   pelora --help | --version
//
// Qt's own options (-platform, -style...) are taken out by QApplication before
// the rest is read; any other argument starting with '-' before "--" is an
// unknown option.
#pragma once

#include <QStringList>

struct CommandLine {
    enum class Request {
        Open,           // open `files` (none: an empty main window)
        Help,           // print the usage and exit 0
        Version,        // print the version and exit 0
        UnknownOption,  // print `unknown` and the usage and exit 2
    };
    Request request = Request::Open;
    QStringList files;
    QString unknown;
};

// Reads the arguments after the program name. Help and version win over
// everything else, wherever they stand before "--".
CommandLine parse_command_line(const QStringList& arguments);

// Answers a request other than Open: help and the version on standard output,
// an unknown option and the usage on standard error. Returns the exit status:
// 0, or 2 for an unknown option.
int answer_command_line(const CommandLine& line);
