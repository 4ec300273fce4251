#include "index/RecentFiles.h"

#include "Morvex.pb.h"
#include "store/ContentResolver.h"

namespace morvex::index {

using store::CContentResolver;
using store::CSelection;

std::vector<std::string> RecentFiles(int64_t usnFloor, int limit) {
  std::vector<std::string> paths;
  if (limit <= 0) return paths;
  auto rows = CContentResolver::Instance().Query(
      store::uris::File(), {"path"},
      CSelection("type = ? AND status != ? AND usn > ? ").AddInt(qo::REG).AddInt(qo::REMOVED).AddInt64(usnFloor),
      "usn DESC ");
  // The cursor steps row by row: stopping at the limit reads no further.
  while (rows && static_cast<int>(paths.size()) < limit && rows->MoveToNext()) {
    paths.emplace_back(rows->GetString(0));
  }
  return paths;
}

int64_t LargestUsn() {
  return CContentResolver::Instance().QueryInt64(store::uris::File(), "MAX(usn)", 0, CSelection());
}

}  // namespace morvex::index
