#include "picture_formats.h"

#include <vector>

#include "qap.h"

using namespace imaging;

namespace {

// Case-insensitive comparison of ASCII letters only, whatever the locale.
bool equal_ignoring_case(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

struct Table {
    std::vector<ReaderEntry> readers;
    std::vector<const char*> extensions;

    Table() {
        readers.push_back(phone_image_reader());
        for (const ReaderEntry& reader : raster_readers()) {
            readers.push_back(reader);
        }
        for (const ReaderEntry& reader : readers) {
            extensions.push_back(reader.extension);
        }
    }
};

const Table& table() {
    static const Table instance;
    return instance;
}

}  // namespace

std::span<const ReaderEntry> picture_readers() {
    return table().readers;
}

const ReaderEntry* find_picture_reader(const std::string& extension) {
    for (const ReaderEntry& reader : picture_readers()) {
        if (equal_ignoring_case(extension, reader.extension)) {
            return &reader;
        }
    }
    return nullptr;
}

const char* const* picture_extensions(int* count) {
    *count = static_cast<int>(table().extensions.size());
    return table().extensions.data();
}
