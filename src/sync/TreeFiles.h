#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

#include "index/FileUtils.h"

namespace morvex::sync {

// Which file an entry is: a name that now refers to another inode is no
// longer the file that was written.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The file-system steps a pass takes on the paths of one local tree, each
// resolved beneath a descriptor of the tree's root without following any
// symbolic link (platform/BeneathDir.h). A path that would leave the tree,
// also through a folder that was swapped for a link after the listing was
// read, fails with an ERROR "... escapes the folder" and touches nothing;
// such refusals are counted into the counter given at construction (the
// pass's, PassLists::escapes) so that the pass can report itself
// incomplete. Paths are full paths below the root.
//
// Threads: no state of its own; it counts into the counter of whoever made
// it, so it stays on that counter's thread (the pass's worker).
class CTreeFiles {
 public:
  // `escapes`, when given, counts the refusals and must outlive this object
  // and its copies.
  explicit CTreeFiles(std::string root, int32_t* escapes = nullptr) : root_(std::move(root)), escapes_(escapes) {}
  const std::string& Root() const { return root_; }

  // lstat() of the entry; false with errno.
  bool Stat(const std::string& path, struct stat& info) const;
  bool Exists(const std::string& path) const;
  bool IsDirectory(const std::string& path) const;
  // The entry's kind, permissions, time and length, as index::GetFileInfo.
  index::FileInfo Info(const std::string& path) const;
  // As index::IsFileModifiedSince: a missing entry is not modified.
  bool ModifiedSince(const std::string& path, int64_t mtime) const;

  // Opens (O_NOFOLLOW added) the entry; with O_CREAT the missing folders
  // on the way are made first.
  int Open(const std::string& path, int flags, mode_t mode = 0) const;
  // Renames `source` to `destination` (folders on the way made), never over
  // an existing entry unless `replace`; with `expectedSource`, only while
  // the source name still refers to that file.
  bool Move(const std::string& source, const std::string& destination, bool replace,
            const std::optional<FileIdentity>& expectedSource = std::nullopt) const;
  // As index::MakeDirectory, parents included.
  bool MakeDirectory(const std::string& path, bool replaceFile) const;
  // Removes an empty directory; a missing one counts as removed.
  bool RemoveDirectory(const std::string& path) const;
  // Removes a file or a link; a missing one counts as removed.
  bool DeleteFile(const std::string& path) const;
  // Removes the entry only while its name refers to `identity`.
  bool DeleteIfSame(const std::string& path, const FileIdentity& identity) const;
  bool SetLastWriteTime(const std::string& path, int64_t mtime) const;
  // A peer's permission bits when it sent them (never set-ID or sticky
  // bits), otherwise its read-only bit.
  bool ApplyPeerAttributes(const std::string& path, int32_t winAttr, int32_t unixAttr) const;
  // Flushes a folder's entries to the disk.
  bool FsyncFolder(const std::string& folder) const;

  // The counter the refusals go to; null when nobody counts them.
  int32_t* Escapes() const { return escapes_; }

 private:
  std::string root_;
  int32_t* escapes_;
};

}  // namespace morvex::sync
