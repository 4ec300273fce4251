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
  if (!rows) return records;
  // A listing reads many rows: the columns are found by name once, not per value.
  const struct {
    int path, type, status, length, mtime, sha1, modifier, localClock, otherClock, usn, winAttr, unixAttr, andrAttr;
  } column{rows->ColumnIndex("path"),      rows->ColumnIndex("type"),        rows->ColumnIndex("status"),
           rows->ColumnIndex("length"),    rows->ColumnIndex("mtime"),       rows->ColumnIndex("sha1"),
           rows->ColumnIndex("modifier"),  rows->ColumnIndex("local_clock"), rows->ColumnIndex("other_clock"),
           rows->ColumnIndex("usn"),       rows->ColumnIndex("win_attr"),    rows->ColumnIndex("unix_attr"),
           rows->ColumnIndex("andr_attr")};
  while (rows->MoveToNext()) {
    const int64_t usn = rows->GetInt64(column.usn);
    const bool full = static_cast<int64_t>(records.size()) >= limit;
    if (full && (records.empty() || usn != records.back().usn)) break;
    ListedRecord& record = records.emplace_back();
    record.path = rows->GetString(column.path);
    record.type = rows->GetInt(column.type);
    record.status = rows->GetInt(column.status);
    record.length = rows->GetInt64(column.length);
    record.mtime = rows->GetInt64(column.mtime);
    record.sha1 = rows->GetString(column.sha1);
    record.modifier = rows->GetInt(column.modifier);
    record.clock = CVectorClock(rows->GetInt(column.localClock), rows->GetBlob(column.otherClock),
                                rows->GetBytes(column.otherClock));
    record.usn = usn;
    record.winAttr = rows->GetInt(column.winAttr);
    record.unixAttr = rows->GetInt(column.unixAttr);
    record.androidAttr = rows->GetInt(column.andrAttr);
  }
  return records;
}

}  // namespace morvex::index
