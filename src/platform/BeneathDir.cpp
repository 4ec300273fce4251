#include "platform/BeneathDir.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace morvex::platform {
namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Opens the folder `name` inside `dirFd`, making it first when it is missing.
UniqueFd OpenOrMakeFolder(int dirFd, const std::string& name) {
  UniqueFd folder = OpenBeneath(dirFd, name, kFolderFlags);
  if (folder.Valid() || errno != ENOENT) return folder;
  if (::mkdirat(dirFd, name.c_str(), 0777) != 0 && errno != EEXIST) return UniqueFd();
  return OpenBeneath(dirFd, name, kFolderFlags);
}

}  // namespace

UniqueFd OpenBeneath(int dirFd, const std::string& relative, int flags, mode_t mode) {
  // Debian 12's C library has no wrapper for openat2.
  open_how how{};
  how.flags = static_cast<uint64_t>(flags);
  how.mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  const std::string& path = relative.empty() ? std::string(".") : relative;
  for (;;) {
    const long fd = ::syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how);
    if (fd >= 0) return UniqueFd(static_cast<int>(fd));
    // The kernel asks for a retry when a rename raced with the lookup.
    if (errno != EAGAIN && errno != EINTR) return UniqueFd();
  }
}

bool IsEscapeError(int err) { return err == ELOOP || err == EXDEV; }

bool ResolveBeneath(const std::string& root, const std::string& fullPath, bool makeParents, BeneathEntry& entry) {
  std::string base = root;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const size_t start = base == "/" ? 1 : base.size() + 1;
  if (base.empty() || fullPath.size() <= start || fullPath.compare(0, base.size(), base) != 0 ||
      fullPath[start - 1] != '/') {
    errno = EXDEV;
    return false;
  }
  const std::string relative = fullPath.substr(start);
  const size_t slash = relative.rfind('/');
  const std::string parent = slash == std::string::npos ? std::string() : relative.substr(0, slash);
  std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
  if (name.empty()) {
    errno = EINVAL;
    return false;
  }

  // The root itself is trusted as configured on this device.
  UniqueFd dir(::open(base.c_str(), kFolderFlags));
  if (!dir.Valid()) return false;
  if (!parent.empty()) {
    UniqueFd holder = OpenBeneath(dir.Get(), parent, kFolderFlags);
    if (!holder.Valid() && errno == ENOENT && makeParents) {
      // Folder by folder, each beneath the one before.
      for (size_t begin = 0; begin <= parent.size();) {
        const size_t end = std::min(parent.find('/', begin), parent.size());
        UniqueFd next = OpenOrMakeFolder(dir.Get(), parent.substr(begin, end - begin));
        if (!next.Valid()) return false;
        dir = std::move(next);
        begin = end + 1;
      }
      holder = std::move(dir);
    }
    if (!holder.Valid()) return false;
    dir = std::move(holder);
  }
  entry.dir = std::move(dir);
  entry.name = std::move(name);
  return true;
}

}  // namespace morvex::platform
