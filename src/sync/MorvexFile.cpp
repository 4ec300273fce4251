#include "sync/MorvexFile.h"

#include <glog/logging.h>

#include <cerrno>
#include <memory>
#include <string>

#include "index/FileUtils.h"
#include "store/ContentResolver.h"
#include "sync/Conditions.h"

namespace morvex::sync {
namespace {

constexpr const char* kConflictMark = "(Conflict)";

// The attribute word kept for a record of that type; what a peer that sent
// none means.
int32_t RemoteWinAttr(const qo::Stat& stat) {
  const bool directory = stat.type() == qo::DIR;
  if (!stat.has_win_attr()) return directory ? 16 : 0;
  return index::KeptAttributes(static_cast<uint32_t>(stat.win_attr()), directory);
}

bool NoAttributesAnnounced(int32_t winAttr, int32_t unixAttr) {
  return unixAttr == 0 && (winAttr == 0 || winAttr == 16);
}

// The shape of a conflict: which side holds a folder and which a deletion.
// Its four letters (local type, remote type, local status, remote status:
// F/D for file/directory, O/D for present/deleted) head the log line.
struct ConflictShape {
  bool localDir;
  bool remoteDir;
  bool localDeleted;
  bool remoteDeleted;

  constexpr int Key() const {
    return (localDir ? 8 : 0) | (remoteDir ? 4 : 0) | (localDeleted ? 2 : 0) | (remoteDeleted ? 1 : 0);
  }
  std::string Name() const {
    return {localDir ? 'D' : 'F', remoteDir ? 'D' : 'F', localDeleted ? 'D' : 'O', remoteDeleted ? 'D' : 'O'};
  }
};

constexpr int kFFOO = ConflictShape{false, false, false, false}.Key();
constexpr int kFFDO = ConflictShape{false, false, true, false}.Key();
constexpr int kDFDO = ConflictShape{true, false, true, false}.Key();
constexpr int kFDOO = ConflictShape{false, true, false, false}.Key();
constexpr int kFDDO = ConflictShape{false, true, true, false}.Key();
constexpr int kDDDO = ConflictShape{true, true, true, false}.Key();
constexpr int kDFOO = ConflictShape{true, false, false, false}.Key();

}  // namespace

CMorvexFile::CMorvexFile(int32_t treeId, const std::string& root, std::string fullPath, const qo::Stat& stat,
                         index::CVectorClock clock, int32_t* escapes)
    : wirePath_(stat.path()),
      tree_(root, escapes),
      fullPath_(std::move(fullPath)),
      temp_(tree_, fullPath_),
      type_(stat.type()),
      status_(stat.status()),
      length_(stat.length()),
      mtime_(stat.mtime()),
      sha1_(stat.sha1()),
      usn_(stat.usn()),
      winAttr_(RemoteWinAttr(stat)),
      // Set-user-ID, set-group-ID and sticky bits are never taken from a
      // peer; the record holds what the disk will hold, so the indexer sees
      // no difference afterwards.
      unixAttr_(stat.unix_attr() & 0777),
      andrAttr_(stat.android_attr()),
      treeId_(treeId),
      ready_(stat.type() == qo::DIR || stat.status() == qo::REMOVED),
      clock_(std::move(clock)) {}

bool CMorvexFile::LoadLocal() {
  local_ = index::CQoFile();
  return local_.LoadByPath(treeId_, fullPath_);
}

void CMorvexFile::FillStat(qo::Stat& stat) const {
  stat.set_path(wirePath_);
  stat.set_type(static_cast<qo::FileType>(type_));
  stat.set_status(static_cast<qo::FileStatus>(status_));
  stat.set_length(length_);
  stat.set_mtime(mtime_);
  stat.set_sha1(sha1_);
  stat.set_usn(usn_);
  stat.clear_vclock();
  for (const int32_t counter : clock_.Data()) stat.add_vclock(counter);
}

bool CMorvexFile::OnlyAttributesDiffer() const {
  return HasLocal() && local_.Status() == qo::NORMAL && local_.Type() == type_ && local_.Status() == status_ &&
         (type_ == qo::DIR || local_.Sha1() == sha1_);
}

std::string CMorvexFile::ConflictName() const {
  const size_t slash = fullPath_.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = fullPath_.rfind('.');
  // A leading dot starts a hidden name, not an extension.
  if (dot == std::string::npos || dot <= nameStart) dot = fullPath_.size();
  const std::string base = fullPath_.substr(0, dot);
  const std::string extension = fullPath_.substr(dot);

  // Exact text comparison: characters of the name must not act as patterns.
  const std::string prefix = base + kConflictMark;
  const int32_t recorded = index::CountRecordsNamed(prefix, extension);
  // A name already on disk (a copy not indexed yet) is skipped too, or the
  // move there would fail on every pass.
  for (int32_t i = recorded;; ++i) {
    const std::string name = i == 0 ? prefix + extension : prefix + "-" + std::to_string(i) + extension;
    if (!tree_.Exists(name)) return name;
  }
}

bool CMorvexFile::PrepareTemp() {
  // Only the file this object's fetch wrote; nothing else under its name.
  if (!temp_.Identity()) return false;
  const std::string& tempPath = temp_.Path();
  struct stat current {};
  if (!tree_.Stat(tempPath, current) || FileIdentity{current.st_dev, current.st_ino} != *temp_.Identity()) {
    LOG(ERROR) << "Temporary file gone or replaced by another writer: " << tempPath;
    return false;
  }
  const index::FileInfo info = tree_.Info(tempPath);
  if (!info.valid) return false;
  if (info.length != length_) {
    LOG(WARNING) << "Incomplete file detected, abort replace: expect: " << length_ << ", actual: " << info.length
                 << "; path: " << tempPath;
    return false;
  }
  if (NoAttributesAnnounced(winAttr_, unixAttr_)) {
    // The peer keeps no permissions; the file has them here, and this tree
    // now holds a version with more to offer back.
    const int32_t own = index::KeptAttributes(info.win_attr, false);
    if (own != winAttr_ || static_cast<int32_t>(info.unix_attr) != unixAttr_) {
      winAttr_ = own;
      unixAttr_ = static_cast<int32_t>(info.unix_attr);
      clock_.Increment(0);
    }
  } else if (!tree_.ApplyPeerAttributes(tempPath, winAttr_, unixAttr_)) {
    LOG(ERROR) << "ChangeFileAttributes() failed[" << errno << "]: " << tempPath;
  }
  if (!tree_.SetLastWriteTime(tempPath, mtime_)) {
    LOG(ERROR) << "SetLastWriteTime() failed[" << errno << "]: " << tempPath;
    const index::FileInfo now = tree_.Info(tempPath);
    if (now.valid) {
      mtime_ = now.mtime;
    } else {
      LOG(ERROR) << "GetLastWriteTime() failed[" << errno << "]: " << tempPath;
    }
  }
  return true;
}

std::unique_ptr<CConditionMove> CMorvexFile::MoveTemp(CSyncBatch& batch, const std::string& destination,
                                                      int64_t expectedDestinationMtime, bool replace) const {
  return MoveIntoPlace(batch.Flushes(), tree_, temp_.Path(), destination, expectedDestinationMtime, replace,
                       temp_.Identity());
}

void CMorvexFile::AppendConflictRecord(CSyncBatch& list, const std::string& path,
                                       const index::IQoFile& version,
                                       std::unique_ptr<store::COperationCondition> condition) {
  index::FileInfo info;
  info.valid = true;
  info.kind = version.Type() == qo::DIR ? index::FileKind::kDirectory : index::FileKind::kRegular;
  info.win_attr = static_cast<uint32_t>(version.WinAttr());
  info.unix_attr = static_cast<uint32_t>(version.UnixAttr());
  info.mtime = version.Mtime();
  info.length = version.Length();
  index::CQoFileBuilder(path, version.Sha1(), treeId_, version.UnixAttr(), version.AndrAttr(), info)
      .AppendInsert(list, list.NotingConflictCopy(std::move(condition), path));
}

void CMorvexFile::BothPresentFiles(CSyncBatch& list, bool isLower) {
  if (local_.Sha1() == sha1_) {
    temp_.Remove();
    // Same content: only permissions this side lacks are taken.
    const bool taken = local_.UnixAttr() == 0 && unixAttr_ != 0;
    if (taken) {
      index::FileInfo info;
      info.valid = true;
      info.kind = index::FileKind::kRegular;
      info.win_attr = static_cast<uint32_t>(local_.WinAttr());
      info.unix_attr = static_cast<uint32_t>(unixAttr_);
      info.mtime = local_.Mtime();
      info.length = local_.Length();
      local_.SetFromFileInfo(info, std::nullopt);
    }
    MergeClock();
    if (taken) local_.IncLocalClock();
    local_.AppendUpdate(list);
    LOG(INFO) << "Handle FFOO  [o] f|" << fullPath_ << " : suppose same file due same sha1";
    return;
  }
  if (!PrepareTemp()) return;
  const std::string conflict = ConflictName();
  if (isLower) {
    // The local version gives up the path and lives on under the conflict
    // name; the remote one takes the path only once it is free.
    AppendConflictRecord(list, conflict, local_,
                         MoveAside(list.Flushes(), tree_, fullPath_, conflict, local_.Mtime()));
    TakeRemoteVersion(list, MoveTemp(list, fullPath_, kNoCheck, false));
  } else {
    AppendConflictRecord(list, conflict, *this,
                         MoveTemp(list, conflict, kNoCheck, false));
    MergeClock();
    local_.AppendUpdate(list);
  }
}

void CMorvexFile::ApplyConflict(CSyncBatch& list, bool isLower) {
  const ConflictShape shape{local_.Type() == qo::DIR, type_ == qo::DIR, local_.Status() != qo::NORMAL,
                            status_ != qo::NORMAL};
  LOG(INFO) << "Handle " << shape.Name() << " " << fullPath_;

  const int64_t localMtime = local_.Mtime();
  switch (shape.Key()) {
    case kFFOO:
      BothPresentFiles(list, isLower);
      return;
    case kFFDO:
    case kDFDO:
      if (!PrepareTemp()) return;
      TakeRemoteVersion(list, MoveTemp(list, fullPath_, localMtime, false));
      return;
    case kFDOO: {
      // The local file moves aside; the directory is made only where the
      // path is free, so a file that could not move is never deleted.
      const std::string conflict = ConflictName();
      AppendConflictRecord(list, conflict, local_, MoveAside(list.Flushes(), tree_, fullPath_, conflict, localMtime));
      TakeRemoteVersion(list,
                        std::make_unique<CConditionMkdir>(tree_, fullPath_, kNoCheck, mtime_, winAttr_, unixAttr_, false));
      return;
    }
    case kFDDO:
    case kDDDO:
      TakeRemoteVersion(list, std::make_unique<CConditionMkdir>(tree_, fullPath_, localMtime, mtime_, winAttr_, unixAttr_));
      return;
    case kDFOO: {
      if (!PrepareTemp()) return;
      const std::string conflict = ConflictName();
      AppendConflictRecord(list, conflict, *this, MoveTemp(list, conflict, kNoCheck, false));
      MergeClock();
      local_.AppendUpdate(list);
      return;
    }
    default:
      // A deletion on either side against a present entry, or two folders:
      // the merged clock makes the local record the newer one, so a present
      // entry is offered back to the peer instead of being deleted.
      MergeClock();
      local_.AppendUpdate(list);
      return;
  }
}

void CMorvexFile::ApplyDirectory(store::COperationList& list) {
  std::unique_ptr<store::COperationCondition> guard;
  if (status_ == qo::NORMAL) {
    guard = std::make_unique<CConditionMkdir>(tree_, fullPath_, local_.Mtime(), mtime_, winAttr_, unixAttr_);
  }
  if (!HasLocal()) {
    index::CQoFileBuilder(treeId_, *this).AppendInsert(list, std::move(guard));
    return;
  }
  TakeRemoteVersion(list, std::move(guard));
}

void CMorvexFile::ApplyAttributes(store::COperationList& list) {
  auto guard = std::make_unique<CConditionSetAttr>(tree_, fullPath_, local_.Mtime(), mtime_, winAttr_, unixAttr_);
  TakeRemoteVersion(list, std::move(guard));
}

void CMorvexFile::ApplyDelete(store::COperationList& list) {
  std::unique_ptr<store::COperationCondition> guard;
  if (tree_.IsDirectory(fullPath_)) {
    guard = std::make_unique<CConditionRmdir>(tree_, fullPath_);
  } else {
    guard = std::make_unique<CConditionDelFile>(tree_, fullPath_, local_.Mtime());
  }
  TakeRemoteVersion(list, std::move(guard));
}

void CMorvexFile::ApplyNewFile(CSyncBatch& list) {
  if (status_ != qo::NORMAL) {
    index::CQoFileBuilder(treeId_, *this).AppendInsert(list);
    return;
  }
  if (!PrepareTemp()) return;
  // Never over an existing file: one that appeared meanwhile is the user's.
  index::CQoFileBuilder(treeId_, *this)
      .AppendInsert(list, MoveTemp(list, fullPath_, local_.Mtime(), false));
}

void CMorvexFile::ApplyUpdate(CSyncBatch& list) {
  if (!PrepareTemp()) return;
  auto guard = MoveTemp(list, fullPath_, local_.Mtime(), true);
  if (!HasLocal()) {
    index::CQoFileBuilder(treeId_, *this).AppendInsert(list, std::move(guard));
    return;
  }
  TakeRemoteVersion(list, std::move(guard));
}

}  // namespace morvex::sync
