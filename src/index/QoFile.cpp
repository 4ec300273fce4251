#include "index/QoFile.h"

#include "Morvex.pb.h"
#include "index/UsnAllocator.h"
#include "store/ContentResolver.h"

namespace morvex::index {

using store::CContentResolver;
using store::CSelection;
namespace uris = store::uris;

namespace {

const std::vector<std::string> kColumns = {"id",       "type",      "status",    "mtime",   "length",
                                           "usn",      "sha1",      "modifier",  "win_attr", "unix_attr",
                                           "andr_attr", "tree_id",  "local_clock", "other_clock"};

}  // namespace

CQoFile::CQoFile(int64_t id) {
  if (id == -1) return;
  auto row = CContentResolver::Instance().Query(uris::File(), kColumns, CSelection("id = ? ").AddInt64(id));
  if (row && row->MoveToNext()) Fill(*row);
}

void CQoFile::Fill(const store::CSQLiteCursor& row) {
  id_ = row.GetInt64("id");
  type_ = row.GetInt("type");
  status_ = row.GetInt("status");
  mtime_ = row.GetInt64("mtime");
  length_ = row.GetInt64("length");
  usn_ = row.GetInt64("usn");
  sha1_ = row.GetString("sha1");
  modifier_ = row.GetInt("modifier");
  winAttr_ = row.GetInt("win_attr");
  unixAttr_ = row.GetInt("unix_attr");
  andrAttr_ = row.GetInt("andr_attr");
  treeId_ = row.GetInt("tree_id");
  clock_.emplace(row.GetInt("local_clock"), row.GetBlob("other_clock"), row.GetBytes("other_clock"));
  dirty_ = 0;
}

bool CQoFile::LoadByPath(int32_t treeId, const std::string& path) {
  auto row = CContentResolver::Instance().Query(uris::File(), kColumns,
                                                CSelection("tree_id = ? AND path = ? ").AddInt(treeId).AddString(path));
  if (!row || !row->MoveToNext()) return false;
  Fill(*row);
  path_ = path;
  treeId_ = treeId;
  return true;
}

namespace {
template <typename T>
void Take(T& field, const T& value, uint32_t bit, uint32_t& dirty) {
  if (field != value) {
    field = value;
    dirty |= bit;
  }
}
}  // namespace

uint32_t CQoFile::SetFromFileInfo(const FileInfo& info, const std::optional<std::string>& sha1) {
  const bool directory = info.kind == FileKind::kDirectory;
  Take(type_, directory ? int32_t{qo::DIR} : int32_t{qo::REG}, kDirtyType, dirty_);
  Take(status_, int32_t{qo::NORMAL}, kDirtyStatus, dirty_);
  Take(mtime_, info.mtime, kDirtyMtime, dirty_);
  Take(length_, info.length, kDirtyLength, dirty_);
  if (sha1) Take(sha1_, *sha1, kDirtySha1, dirty_);
  Take(winAttr_, KeptAttributes(info.win_attr, directory), kDirtyWinAttr, dirty_);
  Take(unixAttr_, static_cast<int32_t>(info.unix_attr), kDirtyUnixAttr, dirty_);
  return dirty_;
}

uint32_t CQoFile::SetFromFile(const IQoFile& other) {
  Take(type_, other.Type(), kDirtyType, dirty_);
  Take(status_, other.Status(), kDirtyStatus, dirty_);
  Take(mtime_, other.Mtime(), kDirtyMtime, dirty_);
  Take(length_, other.Length(), kDirtyLength, dirty_);
  Take(sha1_, other.Sha1(), kDirtySha1, dirty_);
  Take(winAttr_, other.WinAttr(), kDirtyWinAttr, dirty_);
  Take(unixAttr_, other.UnixAttr(), kDirtyUnixAttr, dirty_);
  Take(andrAttr_, other.AndrAttr(), kDirtyAndrAttr, dirty_);
  Take(treeId_, other.TreeId(), kDirtyTreeId, dirty_);
  return dirty_;
}

void CQoFile::MergeVClock(const CVectorClock& clock) {
  if (clock_) {
    clock_->Merge(clock);
  } else {
    clock_.emplace(clock);
  }
  dirty_ |= kDirtyLocalClock | kDirtyOtherClock;
}

void CQoFile::IncLocalClock() {
  if (!clock_) clock_.emplace();
  clock_->Increment(0);
  dirty_ |= kDirtyLocalClock;
}

void CQoFile::AppendUpdate(store::COperationList& list, std::unique_ptr<store::COperationCondition> condition) {
  if (dirty_ == 0) return;
  auto& update = list.NewUpdate(uris::File(), CSelection("id = ? ").AddInt64(id_));
  update.SetCondition(std::move(condition));
  store::CContentValues& v = *update.GetValues();
  if (dirty_ & kDirtyType) v.PutInt("type", type_);
  if (dirty_ & kDirtyStatus) v.PutInt("status", status_);
  if (dirty_ & kDirtyMtime) v.PutInt64("mtime", mtime_);
  if (dirty_ & kDirtyLength) v.PutInt64("length", length_);
  if (dirty_ & kDirtyPath) v.PutString("path", path_);
  if (dirty_ & kDirtySha1) v.PutString("sha1", sha1_);
  if (dirty_ & kDirtyWinAttr) v.PutInt("win_attr", winAttr_);
  if (dirty_ & kDirtyUnixAttr) v.PutInt("unix_attr", unixAttr_);
  if (dirty_ & kDirtyAndrAttr) v.PutInt("andr_attr", andrAttr_);
  if (dirty_ & kDirtyTreeId) v.PutInt("tree_id", treeId_);
  if (dirty_ & kDirtyLocalClock) v.PutInt("local_clock", clock_ ? clock_->At(0) : 0);
  if (dirty_ & kDirtyOtherClock) v.PutBlob("other_clock", clock_ ? OtherClockBlob(*clock_) : store::Blob{});
  // Every written change carries a fresh usn and modifier 0.
  usn_ = GetNextUsn();
  modifier_ = 0;
  dirty_ |= kDirtyUsn | kDirtyModifier;
  v.PutInt64("usn", usn_).PutInt("modifier", 0);
}

bool CQoFile::MarkRemoved(store::COperationList* list) {
  store::COperationList own;
  store::COperationList& target = list != nullptr ? *list : own;
  auto& update =
      target.NewUpdate(uris::File(), CSelection("id = ? AND status != ? ").AddInt64(id_).AddInt(qo::REMOVED));
  update.GetValues()->PutInt("status", qo::REMOVED).PutInt64("usn", GetNextUsn()).PutExpression("local_clock", "local_clock+1");
  if (list != nullptr) return true;
  return CContentResolver::Instance().ApplyBatch(store::kAuthority, own) > 0;
}

namespace {

// The live records strictly below `dir`: a range on the exact bytes, as
// everything that starts with "<dir>/" sorts between "<dir>/" and "<dir>0"
// ('0' follows '/'). Unlike LIKE this neither ignores case nor treats "_"
// and "%" in the name as wildcards.
constexpr const char* kLiveBelow = "tree_id = ? AND status != ? AND path > ? AND path < ? ";

store::CSelection LiveBelow(int32_t treeId, const std::string& dir) {
  store::CSelection selection = store::CSelection::FromClause(kLiveBelow);
  selection.AddInt(treeId).AddInt(qo::REMOVED).AddString(dir + "/").AddString(dir + "0");
  return selection;
}

}  // namespace

void CQoFile::MarkSubtreeRemoved(store::COperationList& list) { MarkRemovedBelow(treeId_, path_, list); }

void MarkRemovedBelow(int32_t treeId, const std::string& dir, store::COperationList& list) {
  auto& update = list.NewUpdate(uris::File(), LiveBelow(treeId, dir));
  update.GetValues()->PutInt("status", qo::REMOVED).PutInt64("usn", GetNextUsn()).PutExpression("local_clock", "local_clock+1");
}

bool AnyLiveBelow(int32_t treeId, const std::string& dir) {
  return CContentResolver::Instance().QueryInt(uris::File(), "COUNT(*)", 0, LiveBelow(treeId, dir)) > 0;
}

store::CUpdateOperation& AppendNoChange(store::COperationList& list) {
  auto& update = list.NewUpdate(uris::File(), CSelection("0 "));
  update.GetValues()->PutExpression("usn", "usn");
  return update;
}

RecordTotals CountAllRecords() {
  CContentResolver& resolver = CContentResolver::Instance();
  return {resolver.QueryInt(uris::File(), "COUNT(*)", 0, CSelection()),
          resolver.QueryInt64(uris::File(), "SUM(length)", 0, CSelection())};
}

int32_t CountRecordsNamed(const std::string& prefix, const std::string& suffix) {
  return CContentResolver::Instance().QueryInt(
      uris::File(), "COUNT(*)", 0,
      CSelection("length(path) >= length(?) + length(?) AND substr(path, 1, length(?)) = ? AND "
                 "substr(path, length(path) - length(?) + 1) = ? ")
          .AddString(prefix)
          .AddString(suffix)
          .AddString(prefix)
          .AddString(prefix)
          .AddString(suffix)
          .AddString(suffix));
}

CQoFileBuilder::CQoFileBuilder(const std::string& path, const std::string& sha1, int32_t treeId, int32_t unixAttr,
                               int32_t andrAttr, const FileInfo& info) {
  const bool directory = info.kind == FileKind::kDirectory;
  type_ = directory ? qo::DIR : qo::REG;
  status_ = qo::NORMAL;
  mtime_ = info.mtime;
  length_ = info.length;
  usn_ = GetNextUsn();
  winAttr_ = KeptAttributes(info.win_attr, directory);
  unixAttr_ = unixAttr;
  andrAttr_ = andrAttr;
  path_ = path;
  sha1_ = sha1;
  treeId_ = treeId;
  clock_.emplace();
  clock_->Increment(0);
}

CQoFileBuilder::CQoFileBuilder(int32_t treeId, const IQoFile& source) {
  type_ = source.Type();
  status_ = source.Status();
  mtime_ = source.Mtime();
  length_ = source.Length();
  winAttr_ = source.WinAttr();
  unixAttr_ = source.UnixAttr();
  andrAttr_ = source.AndrAttr();
  path_ = source.Path();
  sha1_ = source.Sha1();
  usn_ = GetNextUsn();
  treeId_ = treeId;
  if (const CVectorClock* clock = source.VClock()) {
    clock_.emplace(*clock);
  } else {
    clock_.emplace();
    clock_->Increment(0);
  }
}

void CQoFileBuilder::AppendInsert(store::COperationList& list, std::unique_ptr<store::COperationCondition> condition) {
  auto& insert = list.NewInsert(uris::File(), store::kConflictIgnore);
  insert.SetCondition(std::move(condition));
  store::CContentValues& v = *insert.GetValues();
  v.PutInt("type", type_)
      .PutInt("status", status_)
      .PutInt64("mtime", mtime_)
      .PutInt64("length", length_)
      .PutInt64("usn", usn_)
      .PutString("path", path_)
      .PutString("sha1", sha1_)
      .PutInt("modifier", 0)
      .PutInt("win_attr", winAttr_)
      .PutInt("unix_attr", unixAttr_)
      .PutInt("andr_attr", andrAttr_)
      .PutInt("tree_id", treeId_)
      .PutInt("local_clock", clock_ ? clock_->At(0) : 0);
  if (clock_ && HasOtherComponents(*clock_)) v.PutBlob("other_clock", OtherClockBlob(*clock_));
}

}  // namespace morvex::index
