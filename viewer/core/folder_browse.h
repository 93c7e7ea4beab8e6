// Browsing a folder: the pictures beside an open file, in the order a person
// reads their names, so that "photo 2" comes before "photo 10".
#pragma once

#include <string>
#include <vector>

namespace viewer {

// Natural name order: runs of digits compare by their value (then the shorter
// run, with fewer leading zeros, first), other bytes compare with ASCII letters
// folded to one case. Names that tie that way are ordered by their bytes, so
// the order is total.
bool natural_less(const std::string& a, const std::string& b);

// The names (without folder) of the regular files in `folder` whose extension
// the viewer reads, in natural order. Empty when the folder cannot be read.
std::vector<std::string> folder_pictures(const std::string& folder);

// The picture after (`step` 1) or before (-1) the file at `path` in its folder,
// as a path in the same folder, wrapping around at either end. A file that is
// no longer there keeps its place in the order. Empty when the folder holds no
// other picture.
std::string neighbour_picture(const std::string& path, int step);

}  // namespace viewer
