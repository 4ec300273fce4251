#include "index/Listing.h"

#include "store/ContentResolver.h"

namespace morvex::index {

using store::CContentResolver;
using store::CSelection;
namespace uris = store::uris;

std::vector<std::string> ClockUuids(int32_t treeId) {
  std::vector<std::string> uuids;
  auto rows = CContentResolver::Instance().Query(uris::VCUuid(), {"clock_uuid"},
                                                 CSelection("tree_id = ? ").AddInt(treeId), "clock_index ASC ");
  while (rows && rows->MoveToNext()) uuids.emplace_back(rows->GetString("clock_uuid"));
  return uuids;
}

std::vector<ListedRecord> RecordsSince(int32_t treeId, const std::string& root, int64_t sinceUsn, int32_t limit) {
  std::vector<ListedRecord> records;
  auto rows = CContentResolver::Instance().Query(
      uris::File(),
      {"path", "type", "status", "length", "mtime", "sha1", "modifier", "local_clock", "other_clock", "usn", "win_attr",
       "unix_attr", "andr_attr"},
      CSelection("(path != ? ) AND (usn > ? ) AND (tree_id = ? ) ").AddString(root).AddInt64(sinceUsn).AddInt(treeId),
      "usn ASC ");
  while (rows && rows->MoveToNext()) {
    const int64_t usn = rows->GetInt64("usn");
    const bool full = static_cast<int64_t>(records.size()) >= limit;
    if (full && (records.empty() || usn != records.back().usn)) break;
    ListedRecord& record = records.emplace_back();
    record.path = rows->GetString("path");
    record.type = rows->GetInt("type");
    record.status = rows->GetInt("status");
    record.length = rows->GetInt64("length");
    record.mtime = rows->GetInt64("mtime");
    record.sha1 = rows->GetString("sha1");
    record.modifier = rows->GetInt("modifier");
    record.clock =
        CVectorClock(rows->GetInt("local_clock"), rows->GetBlob("other_clock"), rows->GetBytes("other_clock"));
    record.usn = usn;
    record.winAttr = rows->GetInt("win_attr");
    record.unixAttr = rows->GetInt("unix_attr");
    record.androidAttr = rows->GetInt("andr_attr");
  }
  return records;
}

}  // namespace morvex::index
