// Build tool: writes the desktop entry from its template, with the MIME types
// of every reader in the viewer's table in place of @MIME_TYPES@.
//
//   pelora_desktop_entry TEMPLATE OUTPUT

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "viewer/core/picture_formats.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: pelora_desktop_entry TEMPLATE OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    std::stringstream text;
    text << in.rdbuf();
    std::string entry = text.str();

    std::string types;
    for (const imaging::ReaderEntry& reader : viewer::picture_readers()) {
        types += reader.mime_type;
        types += ';';
    }
    const std::string marker = "@MIME_TYPES@";
    const size_t at = entry.find(marker);
    if (!in || at == std::string::npos) {
        std::cerr << "pelora_desktop_entry: no " << marker << " in " << argv[1] << "\n";
        return 1;
    }
    entry.replace(at, marker.size(), types);

    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << entry;
    out.close();
    if (!out) {
        std::cerr << "pelora_desktop_entry: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
