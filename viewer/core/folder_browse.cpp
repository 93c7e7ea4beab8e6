#include "viewer/core/folder_browse.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "viewer/core/document.h"
#include "viewer/core/picture_formats.h"

namespace viewer {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

unsigned char folded(char c) {
    return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Compares the digit runs starting at a[i] and b[j] and moves past them:
// negative, zero or positive as a's value is smaller, equal or larger. Equal
// values leave `zeros` at the difference of their leading zeros, when unset.
int compare_numbers(const std::string& a, size_t& i, const std::string& b, size_t& j, int& zeros) {
    const size_t a_start = i;
    const size_t b_start = j;
    while (i < a.size() && a[i] == '0') {
        ++i;
    }
    while (j < b.size() && b[j] == '0') {
        ++j;
    }
    const size_t a_digits = i;
    const size_t b_digits = j;
    while (i < a.size() && is_digit(a[i])) {
        ++i;
    }
    while (j < b.size() && is_digit(b[j])) {
        ++j;
    }
    // Without leading zeros, the longer run is the larger number.
    if (i - a_digits != j - b_digits) {
        return i - a_digits < j - b_digits ? -1 : 1;
    }
    const int digits = a.compare(a_digits, i - a_digits, b, b_digits, j - b_digits);
    if (digits != 0) {
        return digits;
    }
    if (zeros == 0) {
        zeros = static_cast<int>(a_digits - a_start) - static_cast<int>(b_digits - b_start);
    }
    return 0;
}

}  // namespace

bool natural_less(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    int zeros = 0;  // the first difference in leading zeros, should all else tie
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            const int order = compare_numbers(a, i, b, j, zeros);
            if (order != 0) {
                return order < 0;
            }
            continue;
        }
        if (folded(a[i]) != folded(b[j])) {
            return folded(a[i]) < folded(b[j]);
        }
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) {
        return j < b.size();  // the name that ended first
    }
    if (zeros != 0) {
        return zeros < 0;
    }
    return a < b;
}

std::vector<std::string> folder_pictures(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entry(folder.empty() ? "." : folder, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::error_code status_error;
        if (!entry->is_regular_file(status_error)) {
            continue;  // folders, devices, and links that lead nowhere
        }
        std::string name;
        std::string extension;
        split_file_name(entry->path().filename().string(), &name, &extension);
        if (find_picture_reader(extension) != nullptr) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end(), natural_less);
    return names;
}

std::string neighbour_picture(const std::string& path, int step) {
    const std::filesystem::path file(path);
    const std::filesystem::path folder = file.parent_path();
    const std::string name = file.filename().string();
    const std::vector<std::string> names = folder_pictures(folder.string());
    // The file's own place: its index when it is listed, else where it would be.
    const auto place = std::lower_bound(names.begin(), names.end(), name, natural_less);
    const bool listed = place != names.end() && *place == name;
    const auto count = static_cast<std::ptrdiff_t>(names.size());
    if (count - (listed ? 1 : 0) <= 0) {
        return std::string();
    }
    std::ptrdiff_t index = place - names.begin();
    if (step > 0) {
        index = listed ? index + 1 : index;
    } else {
        index = index - 1;
    }
    index = (index % count + count) % count;
    return (folder / names[static_cast<size_t>(index)]).string();
}

}  // namespace viewer
