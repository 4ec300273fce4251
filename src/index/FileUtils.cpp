#include "index/FileUtils.h"

#include <dirent.h>
#include <fcntl.h>
#include <glog/logging.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/UniqueFd.h"
#include "platform/UniqueDir.h"

namespace morvex::index {
namespace {

using platform::UniqueFd;

// ENOTDIR: a component of the path is a file, so the entry cannot exist.
bool IsMissing(int err) { return err == ENOENT || err == ENOTDIR; }

FileKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kRegular;
  if (S_ISDIR(mode)) return FileKind::kDirectory;
  if (S_ISLNK(mode)) return FileKind::kSymlink;
  return FileKind::kOther;
}

// The folder that holds `path`: the text before the last "/", "/" for an
// entry of the root, empty for a bare name.
std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// mkdir -p: an existing directory (or a link to one) is fine.
bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  if (errno == EEXIST) return IsDirectory(path);
  if (errno != ENOENT) return false;
  const std::string parent = ParentOf(path);
  if (parent.empty() || parent == path || !MakeDirectories(parent)) return false;
  return ::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && IsDirectory(path));
}

// Removing entries needs write and search permission on their directory.
void GrantOwnerAll(int dirFd) {
  struct stat info {};
  if (::fstat(dirFd, &info) == 0 && (info.st_mode & S_IRWXU) != S_IRWXU) {
    ::fchmod(dirFd, (info.st_mode & 07777) | S_IRWXU);
  }
}

// Removes everything inside the directory open as `dirFd`, working relative
// to descriptors so that no link is followed and no path grows too long.
bool RemoveContents(int dirFd) {
  UniqueFd listing(::dup(dirFd));
  if (!listing.Valid()) return false;
  platform::UniqueDir dir(::fdopendir(listing.Get()));
  if (!dir) return false;
  listing.Release();  // owned by `dir` now
  bool ok = true;
  while (const dirent* entry = ::readdir(dir.get())) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (::unlinkat(dirFd, name, 0) == 0) continue;
    if (errno != EISDIR) {
      ok = false;
      continue;
    }
    UniqueFd child(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!child.Valid()) {
      ok = false;
      continue;
    }
    GrantOwnerAll(child.Get());
    if (!RemoveContents(child.Get())) ok = false;
    child.Reset();
    if (::unlinkat(dirFd, name, AT_REMOVEDIR) != 0) ok = false;
  }
  return ok;
}

bool Fsync(const std::string& path, int flags) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags));
  return fd.Valid() && ::fsync(fd.Get()) == 0;
}

}  // namespace

int64_t MillisecondsOf(const timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
}

uint32_t WinAttrOf(const struct stat& info) {
  uint32_t attr = 0;
  if (S_ISDIR(info.st_mode)) attr |= kAttrDirectory;
  if ((info.st_mode & S_IWUSR) == 0) attr |= kAttrReadOnly;
  return attr;
}

FileInfo FileInfoOf(const struct stat& info) {
  FileInfo result;
  result.valid = true;
  result.kind = KindOf(info.st_mode);
  result.win_attr = WinAttrOf(info);
  result.unix_attr = info.st_mode & 07777;
  result.mtime = MillisecondsOf(info.st_mtim);
  result.length = S_ISDIR(info.st_mode) ? 0 : static_cast<int64_t>(info.st_size);
  return result;
}

FileInfo GetFileInfo(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    const int err = errno;
    LOG(ERROR) << "GetFileAttributesEx() Failed[" << err << "]:" << path;
    return {};
  }
  return FileInfoOf(info);
}

bool GetLastWriteTime(const std::string& path, int64_t& mtime) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  mtime = MillisecondsOf(info.st_mtim);
  return true;
}

bool SetLastWriteTime(const std::string& path, int64_t mtime) {
  return SetLastWriteTimeAt(AT_FDCWD, path.c_str(), mtime);
}

bool SetLastWriteTimeAt(int dirFd, const char* name, int64_t mtime) {
  int64_t seconds = mtime / 1000;
  int64_t milliseconds = mtime % 1000;
  if (milliseconds < 0) {  // before 1970: round towards the past
    milliseconds += 1000;
    --seconds;
  }
  timespec times[2] = {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(milliseconds * 1000000);
  return ::utimensat(dirFd, name, times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool ChangeFileAttributes(const std::string& path, uint32_t win_attr) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  const uint32_t keep = S_ISDIR(info.st_mode) ? kKeepAttrDir : kKeepAttrFile;
  if ((WinAttrOf(info) & keep) == win_attr) return true;
  const mode_t mode = info.st_mode & 07777;
  const mode_t wanted = (win_attr & kAttrReadOnly) != 0 ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
  if (wanted == mode) return true;
  // Fails on a link instead of changing what it points to.
  return ::fchmodat(AT_FDCWD, path.c_str(), wanted, AT_SYMLINK_NOFOLLOW) == 0;
}

bool ApplyUnixAttributes(const std::string& path, uint32_t mode) {
  return ::fchmodat(AT_FDCWD, path.c_str(), mode & 0777, AT_SYMLINK_NOFOLLOW) == 0;
}

bool IsFileModifiedSince(const std::string& path, int64_t mtime) {
  int64_t current = 0;
  if (GetLastWriteTime(path, current)) return current != mtime;
  const int err = errno;
  if (IsMissing(err)) return false;
  LOG(WARNING) << "Failed to GetLastWriteTime()[" << err << "]: " << path;
  return true;
}

bool CreateHiddenFile(const std::string& path) {
  // O_NONBLOCK: a FIFO in the way fails instead of waiting for a reader.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (!fd.Valid()) {
    const int err = errno;
    LOG(ERROR) << "CreateFile() failed[" << err << "]: " << path;
    return false;
  }
  ::fchmod(fd.Get(), 0600);  // an existing file keeps its mode otherwise
  return true;
}

bool MoveFileReplace(const std::string& src, const std::string& dst, bool replace) {
  const auto move = [&] {
    return replace ? ::rename(src.c_str(), dst.c_str()) == 0
                   : ::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0;
  };
  if (move()) return true;
  const std::string parent = ParentOf(dst);
  struct stat info {};
  if (parent.empty() || ::stat(parent.c_str(), &info) == 0 || !MakeDirectories(parent)) return false;
  return move();
}

bool MakeDirectory(const std::string& path, bool replace) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    if (!replace || !DeleteFileForce(path)) return false;
  }
  return MakeDirectories(path);
}

bool RemoveDirectoryTree(const std::string& path, bool recursive) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return IsMissing(errno);
  if (!S_ISDIR(info.st_mode)) return false;
  if (!recursive) return ::rmdir(path.c_str()) == 0;
  {
    UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.Valid()) {
      GrantOwnerAll(dir.Get());
      RemoveContents(dir.Get());
    }
  }
  if (::rmdir(path.c_str()) == 0) return true;
  return ::lstat(path.c_str(), &info) != 0 && IsMissing(errno);
}

bool DeleteFileForce(const std::string& path) {
  // Unlike the permission bits of the file, only its directory decides
  // whether it may be removed, so there is nothing to clear first.
  return ::unlink(path.c_str()) == 0 || IsMissing(errno);
}

std::optional<std::string> JoinPath(const std::string& base, const std::string& more) {
  std::string joined = base;
  if (const size_t start = more.find_first_not_of('/'); start != std::string::npos) {
    if (!joined.empty() && joined.back() != '/') joined += '/';
    joined.append(more, start);
  }
  if (joined.size() >= PATH_MAX) return std::nullopt;  // PATH_MAX counts the NUL
  return joined;
}

bool FsyncFile(const std::string& path) { return Fsync(path, O_NOFOLLOW); }

bool FsyncDirectory(const std::string& path) { return Fsync(path, O_DIRECTORY); }

bool PathExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace morvex::index
