#include "peer/FileHandlers.h"

#include <dirent.h>
#include <fcntl.h>
#include <glog/logging.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "index/FileUtils.h"
#include "index/Tree.h"
#include "index/VectorClock.h"
#include "peer/PathRules.h"
#include "peer/PrivateFolders.h"
#include "platform/BeneathDir.h"
#include "platform/PathCollation.h"
#include "platform/MountTable.h"
#include "platform/ServiceFolder.h"
#include "platform/UserFolders.h"
#include "platform/UniqueFd.h"
#include "protocol/Identity.h"
#include "platform/UniqueDir.h"

namespace morvex::peer {
namespace {

// The most one MC_GET_REQUEST may ask for; it bounds the memory of a request.
constexpr uint32_t kMaxPartBytes = 1048576;

// The label of the file system mounted at "/".
constexpr const char* kRootLabel = "本地磁盘";

bool ValidUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    if (platform::NextCodePoint(text, pos) >= 0x110000) return false;
  }
  return true;
}

// A peer's text as it may go into one log line.
std::string Printable(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return shown;
}

// Exactly `length` bytes of the regular file `path` (below the tree at
// `root`) from `offset`. Opened for this part only, beneath the tree's root
// without following any link on the way, so a folder swapped for a link
// after the path was checked cannot lead the read out of the tree; a link,
// a folder or anything else that is not a regular file is not read.
// `present` tells whether anything has that name below the root.
std::optional<std::string> ReadPart(const std::string& root, const std::string& path, int64_t offset,
                                    uint32_t length, bool& present) {
  platform::UniqueFd fd;
  present = false;
  if (platform::BeneathEntry entry; platform::ResolveBeneath(root, path, false, entry)) {
    struct stat info {};
    present = ::fstatat(entry.dir.Get(), entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    // O_NONBLOCK: a FIFO must not make the worker wait for a writer.
    fd.Reset(::openat(entry.dir.Get(), entry.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  } else if (const int err = errno; platform::IsEscapeError(err)) {
    LOG(WARNING) << "Path escapes the folder[" << err << "]: " << Printable(path);
    errno = err;
  }
  if (fd.Valid()) {
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
      fd.Reset();
    } else if (!S_ISREG(info.st_mode)) {
      errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
      fd.Reset();
    }
  }
  if (!fd.Valid()) {
    const int err = errno;
    LOG(WARNING) << "CreateFile() failed[" << err << "]: " << path;
    return std::nullopt;
  }
  if (offset < 0 || offset > std::numeric_limits<int64_t>::max() - static_cast<int64_t>(length)) {
    LOG(ERROR) << "Failed SetFilePointerEx()[" << EINVAL << "]: offset:" << offset << "; path: " << path;
    return std::nullopt;
  }
  std::string data(length, '\0');
  size_t got = 0;
  while (got < length) {
    const ssize_t read = ::pread(fd.Get(), data.data() + got, length - got, static_cast<off_t>(offset + got));
    if (read < 0) {
      const int err = errno;
      if (err == EINTR) continue;
      LOG(ERROR) << "ReadFile() failed[" << err << "]: " << path;
      return std::nullopt;
    }
    if (read == 0) break;
    got += static_cast<size_t>(read);
  }
  if (got == 0 && length > 0) {
    LOG(ERROR) << "ReadFile() encountered FileEnd: " << path;
    return std::nullopt;
  }
  if (got < length) {
    LOG(ERROR) << "ReadFile() not enough data: " << got << ", " << length << ", " << path;
    return std::nullopt;
  }
  return data;
}

int RefuseGet(Request& request, const qo::MsgGetRequest& get, qo::ErrorCode code) {
  qo::MsgGetError refusal;
  refusal.set_transfer(get.transfer());
  refusal.set_errcode(code);
  *refusal.mutable_part() = get.part();
  request.answer.Send(qo::MC_GET_ERROR, &refusal, false);
  return 0;
}

// Whether the requester's clock of the file is the one on record here. Only
// reads: a counter of a tree this tree never saw already makes the versions
// differ, and a request must not add rows to the database.
bool SameVersion(const index::LocalTree& tree, const std::string& path, const qo::MsgGetRequest& get) {
  const std::vector<std::string> uuids(get.uuids().begin(), get.uuids().end());
  const index::ClockIndexMap map = index::LookupClockUuids(tree.Id(), uuids);
  for (int k = 0; k < get.vclock_size() && k < static_cast<int>(map.indexes.size()); ++k) {
    if (map.indexes[static_cast<size_t>(k)] == index::kUnknownClockIndex && get.vclock(k) != 0) return false;
  }
  const index::CVectorClock requested(map, get.vclock());
  index::CVectorClock local;
  return index::LoadFileClock(tree.Id(), path, local) && index::Compare(requested, local) == index::VC_EQUAL;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Kernel and memory file systems: nothing a user keeps files on.
bool IsVirtualFileSystem(const std::string& type) {
  static const std::set<std::string> kVirtual = {
      "proc",    "sysfs",      "cgroup", "cgroup2", "devpts",   "devtmpfs", "tmpfs",     "mqueue", "debugfs",
      "tracefs", "securityfs", "pstore", "bpf",     "configfs", "fusectl",  "hugetlbfs", "autofs", "binfmt_misc",
      "nsfs",
  };
  return kVirtual.count(type) != 0;
}

void AddMountedFileSystems(qo::MsgListRootResponse& response) {
  const auto mounts = platform::ReadMountTable();
  if (!mounts) return;
  std::set<std::string> seen;
  for (const platform::MountEntry& mount : *mounts) {
    if (IsVirtualFileSystem(mount.type)) continue;
    const std::string& target = mount.target;
    if (target.empty() || target[0] != '/' || !ValidUtf8(target) || !seen.insert(target).second) continue;
    qo::Root& root = *response.add_roots();
    root.set_target(target);
    root.set_type(qo::RT_DRIVE);
    root.set_udata(target == "/" ? std::string(kRootLabel) : target.substr(target.find_last_of('/') + 1));
  }
}

void AddUserFolders(qo::MsgListRootResponse& response) {
  const std::string home = platform::HomeFolder();
  if (home.empty()) return;
  if (IsDirectory(home) && ValidUtf8(home)) {
    qo::Root& root = *response.add_roots();
    root.set_target(home);
    root.set_type(qo::RT_HOME);
  }
  struct WellKnown {
    const char* key;
    const char* fallback;
    qo::RootType type;
  };
  static constexpr WellKnown kFolders[] = {
      {"XDG_DESKTOP_DIR", "Desktop", qo::RT_DESKTOP},   {"XDG_PICTURES_DIR", "Pictures", qo::RT_PICTURE},
      {"XDG_VIDEOS_DIR", "Videos", qo::RT_VIDEO},       {"XDG_MUSIC_DIR", "Music", qo::RT_AUDIO},
      {"XDG_DOCUMENTS_DIR", "Documents", qo::RT_DOCUMENT},
  };
  const auto named = platform::ReadUserDirs(home, platform::ConfigHome());
  for (const WellKnown& folder : kFolders) {
    const auto found = named.find(folder.key);
    const std::string path = found != named.end() ? found->second : home + "/" + folder.fallback;
    // A folder set to the home folder itself is switched off.
    if (path == home || !IsDirectory(path) || !ValidUtf8(path)) continue;
    qo::Root& root = *response.add_roots();
    root.set_target(path);
    root.set_type(folder.type);
  }
}

}  // namespace

int HandleGet(Request& request) {
  qo::MsgGetRequest get;
  if (!request.Parse(get)) return qo::ZE_BAD_FORMAT;
  if (!protocol::IsValidUuid(get.tree_uuid())) return RefuseGet(request, get, qo::ZE_BAD_UUID);
  // Compared unsigned: a negative length is too large.
  const auto length = static_cast<uint32_t>(get.part().length());
  if (length > kMaxPartBytes) return RefuseGet(request, get, qo::ZE_BAD_PART);
  const index::LocalTree tree = index::LocalTree::ByUuid(get.tree_uuid());
  if (!tree.Valid()) return RefuseGet(request, get, qo::ZE_BAD_TREE);
  const auto path = ConfinedPath(tree.Root(), get.path());
  if (!path) {
    LOG(WARNING) << "Refused a path outside tree " << tree.Root() << ": " << Printable(get.path());
    return RefuseGet(request, get, qo::ZE_BAD_PATH);
  }
  // Without both lists the requester does not care which version it gets.
  if (get.uuids_size() > 0 && get.vclock_size() > 0 && !SameVersion(tree, *path, get)) {
    return RefuseGet(request, get, qo::ZE_VCLOCK_MISMATCH);
  }
  bool present = false;
  auto data = ReadPart(tree.Root(), *path, get.part().offset(), length, present);
  if (!data) return RefuseGet(request, get, present ? qo::ZE_BAD_PART : qo::ZE_BAD_PATH);

  qo::MsgGetResponse response;
  response.set_transfer(get.transfer());
  response.set_tree_uuid(get.tree_uuid());
  response.set_path(get.path());
  *response.mutable_part() = get.part();
  response.set_part_data(std::move(*data));
  request.answer.Send(qo::MC_GET_RESPONSE, &response, false);
  return 0;
}

int HandleList(Request& request) {
  qo::MsgListRequest list;
  if (!request.Parse(list)) return qo::ZE_BAD_FORMAT;
  const std::string& folder = list.root();
  if (folder != "/" && !ValidWirePath(folder)) return qo::ZE_BAD_PATH;
  const PrivateFolders hidden = PrivateFolders::For(request.peer.appDir);
  if (hidden.Covers(folder)) {
    LOG(WARNING) << "Refused to list the private folder " << Printable(folder) << " for " << request.SenderUuid();
    return qo::ZE_PERMISSION_DENY;
  }
  platform::UniqueDir listing(::opendir(folder.c_str()));
  if (!listing) return qo::ZE_BAD_PATH;

  qo::MsgListResponse response;
  response.set_root(folder);
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string name = entry->d_name;
    if (platform::SkippedInWalk(name) || !ValidUtf8(name)) continue;
    const auto child = index::JoinPath(folder, name);
    // Private folders are not shown, so that nobody is led to them.
    if (!child || hidden.Covers(*child)) continue;
    const index::FileInfo info = index::GetFileInfo(*child);
    // Links, sockets, FIFOs and devices are never synchronised.
    if (!info.valid || (info.kind != index::FileKind::kRegular && info.kind != index::FileKind::kDirectory)) continue;
    const bool directory = info.kind == index::FileKind::kDirectory;
    qo::FileStat& stat = *response.add_stats();
    stat.set_name(name);
    stat.set_type(directory ? qo::DIR : qo::REG);
    stat.set_length(info.length);
    stat.set_mtime(info.mtime);
    stat.set_attr(static_cast<int32_t>(info.win_attr & (directory ? index::kKeepAttrDir : index::kKeepAttrFile)));
  }
  request.answer.Send(qo::MC_LIST_RESPONSE, &response, false);
  return 0;
}

int HandleListRoot(Request& request) {
  if (request.message.HasBody() && request.message.BodySize() > 0) return qo::ZE_BAD_FORMAT;
  qo::MsgListRootResponse response;
  AddMountedFileSystems(response);
  AddUserFolders(response);
  // A mount point or a user folder in a private folder is no place to start.
  const PrivateFolders hidden = PrivateFolders::For(request.peer.appDir);
  auto& roots = *response.mutable_roots();
  roots.erase(std::remove_if(roots.begin(), roots.end(), [&](const qo::Root& root) { return hidden.Covers(root.target()); }),
              roots.end());
  request.answer.Send(qo::MC_LIST_ROOT_RESPONSE, &response, false);
  return 0;
}

}  // namespace morvex::peer
