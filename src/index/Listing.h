#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "index/VectorClock.h"

namespace morvex::index {

// One File record as a peer's listing carries it. The path is the stored
// (absolute) one; the listing's reader makes it relative to the tree root.
struct ListedRecord {
  std::string path;
  int32_t type = 0;
  int32_t status = 0;
  int64_t length = 0;
  int64_t mtime = 0;
  std::string sha1;
  int32_t modifier = 0;
  CVectorClock clock;
  int64_t usn = 0;
  int32_t winAttr = 0;
  int32_t unixAttr = 0;
  int32_t androidAttr = 0;
};

// The tree UUIDs of tree `treeId`'s clock components 1 and up, in component
// order (its VCUuid rows by clock_index).
std::vector<std::string> ClockUuids(int32_t treeId);

// The records of tree `treeId` other than its root (`root`) with a usn above
// `sinceUsn`, by ascending usn. At least `limit` records when there are that
// many, and more only to finish the usn group the limit falls in: records
// removed together share one usn, and the reader asks for "usn above the
// largest seen" next, so a cut group's rest would never be listed.
//
// Threads: any thread; one read of the File table.
std::vector<ListedRecord> RecordsSince(int32_t treeId, const std::string& root, int64_t sinceUsn, int32_t limit);

}  // namespace morvex::index
