// The most recently changed files, as the desktop's history lists them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvex::index {

// The full paths of the `limit` regular, not removed files of every tree
// whose usn is above `usnFloor`, newest (highest usn) first.
std::vector<std::string> RecentFiles(int64_t usnFloor, int limit);

// The highest usn of any File record; 0 when there is none.
int64_t LargestUsn();

}  // namespace morvex::index
