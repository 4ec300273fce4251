#include "sync/Conditions.h"

#include <glog/logging.h>

#include <cerrno>
#include <filesystem>
#include <set>

#include "index/FileUtils.h"

namespace morvex::sync {
namespace {

// A directory's time moves with every entry added or removed inside it and
// is not part of its record, so only files are held to their recorded time.
bool ModifiedAgain(const std::string& path, int64_t expectedMtime) {
  if (expectedMtime == kNoCheck) return false;
  if (index::PathExists(path) && index::GetFileInfo(path).kind == index::FileKind::kDirectory) return false;
  return index::IsFileModifiedSince(path, expectedMtime);
}

std::string ParentOf(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

// Folders whose entries changed in the batch running on this thread.
thread_local std::set<std::string> foldersToFlush;

}  // namespace

bool ApplyPeerAttributes(const std::string& path, int32_t winAttr, int32_t unixAttr) {
  if (unixAttr != 0) return index::ApplyUnixAttributes(path, static_cast<uint32_t>(unixAttr));
  return index::ChangeFileAttributes(path, static_cast<uint32_t>(winAttr));
}

int CConditionMove::Run() {
  if (ModifiedAgain(source_, sourceMtime_)) {
    LOG(INFO) << "File modified again, abort Rename: " << source_;
    return 0;
  }
  if (ModifiedAgain(destination_, destinationMtime_)) {
    LOG(INFO) << "File modified again, abort Rename: " << destination_;
    return 0;
  }
  bool moved = index::MoveFileReplace(source_, destination_, replace_);
  if (!moved && index::GetFileInfo(destination_).kind == index::FileKind::kDirectory) {
    // An empty folder in the way gives up its place; a full one stays.
    if (!index::RemoveDirectoryTree(destination_, false)) {
      LOG(ERROR) << "RemoveDirectory() failed[" << errno << "]: " << destination_;
    } else {
      moved = index::MoveFileReplace(source_, destination_, replace_);
      if (!moved) LOG(ERROR) << "MoveFileEx() failed[" << errno << "]: " << destination_;
    }
  }
  if (!moved) {
    LOG(WARNING) << "[Rename    ] x|" << source_ << " => " << destination_;
    return 0;
  }
  // Acknowledged only once the new name survives a power cut: flushed by
  // the batch's last step, before it commits.
  foldersToFlush.insert(ParentOf(destination_));
  LOG(INFO) << "[Rename    ] o|" << source_ << " => " << destination_;
  return 1;
}

int CConditionMkdir::Run() {
  if (ModifiedAgain(path_, expectedMtime_)) {
    LOG(INFO) << "File modified again, abort mkdir: " << path_;
    return 0;
  }
  if (!index::MakeDirectory(path_, replaceFile_)) {
    LOG(WARNING) << "[mkdir     ] x| " << path_;
    return 0;
  }
  LOG(INFO) << "[mkdir     ] o| " << path_;
  if (newMtime_ != kNoCheck && !index::SetLastWriteTime(path_, newMtime_)) {
    LOG(WARNING) << "SetFileTime() Failed[" << errno << "]: " << path_;
  }
  if ((winAttr_ != 0 || unixAttr_ != 0) && !ApplyPeerAttributes(path_, winAttr_, unixAttr_)) {
    LOG(WARNING) << "ChangeFileAttributes() Failed[" << errno << "]: " << path_;
  }
  return 1;
}

int CConditionRmdir::Run() {
  if (!index::RemoveDirectoryTree(path_, false)) {
    LOG(WARNING) << "RemoveDirectory() failed[" << errno << "]: " << path_;
    LOG(WARNING) << "[rmdir     ] x| " << path_;
    return 0;
  }
  LOG(INFO) << "[rmdir     ] o| " << path_;
  return 1;
}

int CConditionDelFile::Run() {
  if (ModifiedAgain(path_, expectedMtime_)) {
    LOG(INFO) << "File modified again, abort delfile: " << path_;
    return 0;
  }
  if (!index::DeleteFileForce(path_)) {
    LOG(ERROR) << "DeleteFile() failed[" << errno << "]: " << path_;
    LOG(WARNING) << "[delfile   ] x| " << path_;
    return 0;
  }
  LOG(INFO) << "[delfile   ] o| " << path_;
  return 1;
}

int CConditionSetAttr::Run() {
  if (ModifiedAgain(path_, expectedMtime_)) {
    LOG(INFO) << "File modified again, abort SetAttr: " << path_;
    return 0;
  }
  const bool attributesSet = ApplyPeerAttributes(path_, winAttr_, unixAttr_);
  const bool timeSet = newMtime_ == expectedMtime_ || index::SetLastWriteTime(path_, newMtime_);
  if (!attributesSet || !timeSet) {
    LOG(WARNING) << "Failed to SetAttributes()[" << errno << "]: " << path_;
    LOG(WARNING) << "[SetAttr    ] x| " << path_;
    return 0;
  }
  LOG(INFO) << "[SetAttr    ] o| " << path_;
  return 1;
}

int CConditionFlushFolders::Run() {
  for (const std::string& folder : foldersToFlush) {
    if (!index::FsyncDirectory(folder)) LOG(WARNING) << "fsync() failed[" << errno << "]: " << folder;
  }
  foldersToFlush.clear();
  return 1;
}

}  // namespace morvex::sync
