#include "sync/TreeFiles.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/BeneathDir.h"

namespace morvex::sync {
namespace {

using platform::BeneathEntry;
using platform::UniqueFd;

// ENOTDIR: a component of the path is a file, so the entry cannot exist.
bool IsMissing(int err) { return err == ENOENT || err == ENOTDIR; }

using index::MillisecondsOf;
using index::WinAttrOf;

bool Resolve(const std::string& root, int32_t* escapes, const std::string& path, bool makeParents,
             BeneathEntry& entry) {
  if (platform::ResolveBeneath(root, path, makeParents, entry)) return true;
  const int err = errno;
  if (platform::IsEscapeError(err)) {
    if (escapes != nullptr) ++*escapes;
    LOG(ERROR) << "Path escapes the folder[" << err << "]: " << path << " (folder " << root << ")";
  }
  errno = err;
  return false;
}

}  // namespace

bool CTreeFiles::Stat(const std::string& path, struct stat& info) const {
  BeneathEntry entry;
  return Resolve(root_, escapes_, path, false, entry) &&
         ::fstatat(entry.dir.Get(), entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool CTreeFiles::Exists(const std::string& path) const {
  struct stat info {};
  return Stat(path, info);
}

bool CTreeFiles::IsDirectory(const std::string& path) const {
  struct stat info {};
  return Stat(path, info) && S_ISDIR(info.st_mode);
}

index::FileInfo CTreeFiles::Info(const std::string& path) const {
  struct stat info {};
  if (!Stat(path, info)) {
    const int err = errno;
    LOG(ERROR) << "GetFileAttributesEx() Failed[" << err << "]:" << path;
    return {};
  }
  return index::FileInfoOf(info);
}

bool CTreeFiles::ModifiedSince(const std::string& path, int64_t mtime) const {
  struct stat info {};
  if (Stat(path, info)) return MillisecondsOf(info.st_mtim) != mtime;
  const int err = errno;
  if (IsMissing(err)) return false;
  LOG(WARNING) << "Failed to GetLastWriteTime()[" << err << "]: " << path;
  return true;
}

int CTreeFiles::Open(const std::string& path, int flags, mode_t mode) const {
  BeneathEntry entry;
  if (!Resolve(root_, escapes_, path, (flags & O_CREAT) != 0, entry)) return -1;
  return ::openat(entry.dir.Get(), entry.name.c_str(), flags | O_NOFOLLOW, mode);
}

bool CTreeFiles::Move(const std::string& source, const std::string& destination, bool replace,
                      const std::optional<FileIdentity>& expectedSource) const {
  BeneathEntry from;
  BeneathEntry to;
  if (!Resolve(root_, escapes_, source, false, from) || !Resolve(root_, escapes_, destination, true, to)) return false;
  if (expectedSource) {
    struct stat info {};
    if (::fstatat(from.dir.Get(), from.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (FileIdentity{info.st_dev, info.st_ino} != *expectedSource) {
      LOG(ERROR) << "Another writer replaced the file, not moved: " << source;
      errno = ESTALE;
      return false;
    }
  }
  return ::renameat2(from.dir.Get(), from.name.c_str(), to.dir.Get(), to.name.c_str(),
                     replace ? 0 : RENAME_NOREPLACE) == 0;
}

bool CTreeFiles::MakeDirectory(const std::string& path, bool replaceFile) const {
  BeneathEntry entry;
  if (!Resolve(root_, escapes_, path, true, entry)) return false;
  const int dir = entry.dir.Get();
  const char* name = entry.name.c_str();
  struct stat info {};
  if (::fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    if (!replaceFile || ::unlinkat(dir, name, 0) != 0) return false;
  }
  if (::mkdirat(dir, name, 0777) == 0) return true;
  return errno == EEXIST && ::fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
}

bool CTreeFiles::RemoveDirectory(const std::string& path) const {
  BeneathEntry entry;
  if (!Resolve(root_, escapes_, path, false, entry)) return IsMissing(errno);
  return ::unlinkat(entry.dir.Get(), entry.name.c_str(), AT_REMOVEDIR) == 0 || IsMissing(errno);
}

bool CTreeFiles::DeleteFile(const std::string& path) const {
  BeneathEntry entry;
  if (!Resolve(root_, escapes_, path, false, entry)) return IsMissing(errno);
  return ::unlinkat(entry.dir.Get(), entry.name.c_str(), 0) == 0 || IsMissing(errno);
}

bool CTreeFiles::DeleteIfSame(const std::string& path, const FileIdentity& identity) const {
  BeneathEntry entry;
  if (!Resolve(root_, escapes_, path, false, entry)) return false;
  struct stat info {};
  if (::fstatat(entry.dir.Get(), entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (FileIdentity{info.st_dev, info.st_ino} != identity) {
    errno = ESTALE;  // another writer's file now has the name
    return false;
  }
  return ::unlinkat(entry.dir.Get(), entry.name.c_str(), 0) == 0;
}

bool CTreeFiles::SetLastWriteTime(const std::string& path, int64_t mtime) const {
  BeneathEntry entry;
  return Resolve(root_, escapes_, path, false, entry) && index::SetLastWriteTimeAt(entry.dir.Get(), entry.name.c_str(), mtime);
}

bool CTreeFiles::ApplyPeerAttributes(const std::string& path, int32_t winAttr, int32_t unixAttr) const {
  BeneathEntry entry;
  if (!Resolve(root_, escapes_, path, false, entry)) return false;
  const int dir = entry.dir.Get();
  const char* name = entry.name.c_str();
  // AT_SYMLINK_NOFOLLOW: a link in the entry's place fails instead of
  // passing the change on to what it points to.
  if (unixAttr != 0) return ::fchmodat(dir, name, static_cast<mode_t>(unixAttr) & 0777, AT_SYMLINK_NOFOLLOW) == 0;
  struct stat info {};
  if (::fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
  const uint32_t keep = S_ISDIR(info.st_mode) ? index::kKeepAttrDir : index::kKeepAttrFile;
  if ((WinAttrOf(info) & keep) == static_cast<uint32_t>(winAttr)) return true;
  const mode_t mode = info.st_mode & 07777;
  const mode_t wanted = (winAttr & index::kAttrReadOnly) != 0 ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
  return wanted == mode || ::fchmodat(dir, name, wanted, AT_SYMLINK_NOFOLLOW) == 0;
}

bool CTreeFiles::FsyncFolder(const std::string& folder) const {
  UniqueFd fd;
  std::string root = root_;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (folder == root) {
    fd.Reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  } else {
    BeneathEntry entry;
    if (!Resolve(root_, escapes_, folder, false, entry)) return false;
    fd.Reset(::openat(entry.dir.Get(), entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return fd.Valid() && ::fsync(fd.Get()) == 0;
}

}  // namespace morvex::sync
