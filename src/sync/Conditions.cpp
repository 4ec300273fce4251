#include "sync/Conditions.h"

#include <glog/logging.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "platform/BeneathDir.h"
#include "sync/ApplyFailures.h"

namespace morvex::sync {
namespace {

// A directory's time moves with every entry added or removed inside it and
// is not part of its record, so only files are held to their recorded time.
bool ModifiedAgain(const CTreeFiles& tree, const std::string& path, int64_t expectedMtime) {
  if (expectedMtime == kNoCheck) return false;
  if (tree.IsDirectory(path)) return false;
  return tree.ModifiedSince(path, expectedMtime);
}

// A failure worth telling the user about: not a race with another writer
// (the file or its folder gone meanwhile), nor a path refused for leaving
// the tree (the pass counts those already).
void NoteFailure(const std::string& path, int error) {
  if (error == 0 || error == ENOENT || error == ESTALE || platform::IsEscapeError(error)) return;
  NoteApplyFailure(path, error);
}

std::string ParentOf(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

}  // namespace

void CFolderFlushes::Note(const CTreeFiles& tree, const std::string& folder) {
  folders_.try_emplace({tree.Root(), folder}, tree);
}

void CFolderFlushes::FlushAll() {
  for (const auto& [key, tree] : folders_) {
    const std::string& folder = key.second;
    if (!tree.FsyncFolder(folder)) LOG(WARNING) << "fsync() failed[" << errno << "]: " << folder;
  }
  folders_.clear();
}

bool CConditionMove::Run() {
  if (ModifiedAgain(tree_, source_, sourceMtime_)) {
    LOG(INFO) << "File modified again, abort Rename: " << source_;
    return false;
  }
  if (ModifiedAgain(tree_, destination_, destinationMtime_)) {
    LOG(INFO) << "File modified again, abort Rename: " << destination_;
    return false;
  }
  errno = 0;
  bool moved = tree_.Move(source_, destination_, replace_, sourceIdentity_);
  int error = errno;
  // Not for a refused path or another writer's file: only a folder in the way
  // is worth a second try.
  if (!moved && errno != ESTALE && !platform::IsEscapeError(errno) && tree_.IsDirectory(destination_)) {
    // An empty folder in the way gives up its place; a full one stays.
    if (!tree_.RemoveDirectory(destination_)) {
      LOG(ERROR) << "RemoveDirectory() failed[" << errno << "]: " << destination_;
    } else {
      moved = tree_.Move(source_, destination_, replace_, sourceIdentity_);
      error = errno;
      if (!moved) LOG(ERROR) << "MoveFileEx() failed[" << errno << "]: " << destination_;
    }
  }
  if (!moved) {
    NoteFailure(destination_, error);
    LOG(WARNING) << "[Rename    ] x|" << source_ << " => " << destination_;
    return false;
  }
  // Acknowledged only once the new name survives a power cut: flushed by
  // the batch's last step, before it commits.
  flushes_.Note(tree_, ParentOf(destination_));
  LOG(INFO) << "[Rename    ] o|" << source_ << " => " << destination_;
  return true;
}

bool CConditionMkdir::Run() {
  if (ModifiedAgain(tree_, path_, expectedMtime_)) {
    LOG(INFO) << "File modified again, abort mkdir: " << path_;
    return false;
  }
  errno = 0;
  if (!tree_.MakeDirectory(path_, replaceFile_)) {
    NoteFailure(path_, errno);
    LOG(WARNING) << "[mkdir     ] x| " << path_;
    return false;
  }
  LOG(INFO) << "[mkdir     ] o| " << path_;
  if (newMtime_ != kNoCheck && !tree_.SetLastWriteTime(path_, newMtime_)) {
    LOG(WARNING) << "SetFileTime() Failed[" << errno << "]: " << path_;
  }
  if ((winAttr_ != 0 || unixAttr_ != 0) && !tree_.ApplyPeerAttributes(path_, winAttr_, unixAttr_)) {
    LOG(WARNING) << "ChangeFileAttributes() Failed[" << errno << "]: " << path_;
  }
  return true;
}

bool CConditionRmdir::Run() {
  errno = 0;
  if (!tree_.RemoveDirectory(path_)) {
    // A folder that still holds files made here keeps them: not a failure.
    if (errno != ENOTEMPTY && errno != EEXIST) NoteFailure(path_, errno);
    LOG(WARNING) << "RemoveDirectory() failed[" << errno << "]: " << path_;
    LOG(WARNING) << "[rmdir     ] x| " << path_;
    return false;
  }
  LOG(INFO) << "[rmdir     ] o| " << path_;
  return true;
}

bool CConditionDelFile::Run() {
  if (ModifiedAgain(tree_, path_, expectedMtime_)) {
    LOG(INFO) << "File modified again, abort delfile: " << path_;
    return false;
  }
  errno = 0;
  if (!tree_.DeleteFile(path_)) {
    NoteFailure(path_, errno);
    LOG(ERROR) << "DeleteFile() failed[" << errno << "]: " << path_;
    LOG(WARNING) << "[delfile   ] x| " << path_;
    return false;
  }
  LOG(INFO) << "[delfile   ] o| " << path_;
  return true;
}

bool CConditionSetAttr::Run() {
  if (ModifiedAgain(tree_, path_, expectedMtime_)) {
    LOG(INFO) << "File modified again, abort SetAttr: " << path_;
    return false;
  }
  errno = 0;
  const bool attributesSet = tree_.ApplyPeerAttributes(path_, winAttr_, unixAttr_);
  const bool timeSet = newMtime_ == expectedMtime_ || tree_.SetLastWriteTime(path_, newMtime_);
  if (!attributesSet || !timeSet) {
    NoteFailure(path_, errno);
    LOG(WARNING) << "Failed to SetAttributes()[" << errno << "]: " << path_;
    LOG(WARNING) << "[SetAttr    ] x| " << path_;
    return false;
  }
  LOG(INFO) << "[SetAttr    ] o| " << path_;
  return true;
}

bool CConditionFlushFolders::Run() {
  flushes_.FlushAll();
  return true;
}

}  // namespace morvex::sync
