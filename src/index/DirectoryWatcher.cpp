#include "index/DirectoryWatcher.h"

#include <dirent.h>
#include <glog/logging.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "index/IgnoreRules.h"
#include "platform/ServiceFolder.h"
#include "platform/ThreadName.h"
#include "platform/UniqueDir.h"

namespace morvex::index {
namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM |
                                IN_MOVED_TO | IN_DONT_FOLLOW | IN_ONLYDIR | IN_EXCL_UNLINK;

bool Below(const std::string& path, const std::string& dir) {
  if (dir == "/") return path.size() > 1 && path[0] == '/';
  return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/';
}

}  // namespace

CDirectoryWatcher::CDirectoryWatcher()
    : inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), stop_(::eventfd(0, EFD_CLOEXEC)) {
  if (!inotify_.Valid()) LOG(ERROR) << "inotify_init1 failed: " << std::strerror(errno);
  thread_ = std::thread([this] { Loop(); });
}

CDirectoryWatcher::~CDirectoryWatcher() {
  const uint64_t one = 1;
  if (::write(stop_.Get(), &one, sizeof one) < 0) LOG(ERROR) << "cannot stop the directory watcher";
  thread_.join();
}

int CDirectoryWatcher::AddWatch(const std::string& root, std::shared_ptr<CDirectoryChangeHandler> handler) {
  if (root.empty() || !handler) return EINVAL;
  struct stat info {};
  if (::stat(root.c_str(), &info) != 0) return errno;
  if (!S_ISDIR(info.st_mode)) return ENOTDIR;
  RemoveWatch(root);
  auto tree = std::make_shared<Tree>(Tree{root, std::move(handler)});
  {
    std::lock_guard lock(mutex_);
    trees_[root] = tree;
  }
  if (!WatchRecursively(root, tree)) ReportLost(tree);
  return 0;
}

bool CDirectoryWatcher::WatchOne(const std::string& dir, const std::shared_ptr<Tree>& tree) {
  // Under the lock, so that no other tree releases this descriptor between
  // the kernel handing it out and this tree taking its share.
  std::lock_guard lock(mutex_);
  const int wd = ::inotify_add_watch(inotify_.Get(), dir.c_str(), kWatchMask);
  if (wd < 0) {
    if (errno == ENOSPC) {
      LOG(WARNING) << "No more inotify watches for " << dir
                   << ": raise the fs.inotify.max_user_watches setting; a full rescan will catch up";
      return false;
    }
    return true;  // vanished meanwhile, or not a directory any more: nothing to watch
  }
  Directory& watch = byWatch_[wd];
  watch.path = dir;
  if (std::find(watch.trees.begin(), watch.trees.end(), tree) == watch.trees.end()) watch.trees.push_back(tree);
  return true;
}

bool CDirectoryWatcher::WatchRecursively(const std::string& dir, const std::shared_ptr<Tree>& tree) {
  if (!WatchOne(dir, tree)) return false;
  platform::UniqueDir listing(::opendir(dir.c_str()));
  if (!listing) return true;
  bool complete = true;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    if (platform::SkippedInWalk(name)) continue;
    const std::string child = dir + "/" + std::string(name);
    bool isDir = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat info {};
      isDir = ::lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    if (isDir && !WatchRecursively(child, tree)) complete = false;
  }
  return complete;
}

bool CDirectoryWatcher::RemoveWatch(const std::string& root) {
  std::lock_guard lock(mutex_);
  auto it = trees_.find(root);
  if (it == trees_.end()) return false;
  const std::shared_ptr<Tree> tree = it->second;
  trees_.erase(it);
  ReleaseLocked(tree, std::string());
  return true;
}

void CDirectoryWatcher::ReleaseLocked(const std::shared_ptr<Tree>& tree, const std::string& dir) {
  for (auto it = byWatch_.begin(); it != byWatch_.end();) {
    Directory& watch = it->second;
    if (!dir.empty() && watch.path != dir && !Below(watch.path, dir)) {
      ++it;
      continue;
    }
    watch.trees.erase(std::remove(watch.trees.begin(), watch.trees.end(), tree), watch.trees.end());
    if (watch.trees.empty()) {
      ::inotify_rm_watch(inotify_.Get(), it->first);
      it = byWatch_.erase(it);
    } else {
      ++it;  // another tree still needs it
    }
  }
}

void CDirectoryWatcher::RenameWatches(const std::string& oldPath, const std::string& newPath) {
  std::lock_guard lock(mutex_);
  for (auto& [wd, watched] : byWatch_) {
    if (watched.path == oldPath || Below(watched.path, oldPath)) {
      watched.path = newPath + watched.path.substr(oldPath.size());
    }
  }
}

void CDirectoryWatcher::WatchNew(const std::string& path, const TreeList& trees) {
  if (path.ends_with("/" + std::string(platform::kServiceFolderName))) return;
  for (const auto& tree : trees) {
    if (!WatchRecursively(path, tree)) ReportLost(tree);
  }
}

void CDirectoryWatcher::RemoveAllWatches() {
  std::vector<std::string> roots;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [root, tree] : trees_) roots.push_back(root);
  }
  for (const std::string& root : roots) RemoveWatch(root);
}

void CDirectoryWatcher::ReportLost(const std::shared_ptr<Tree>& tree) { tree->handler->OnChangesLost(); }

void CDirectoryWatcher::Loop() {
  platform::SetCurrentThreadName("dirwatch");
  for (;;) {
    pollfd fds[] = {{inotify_.Get(), POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if ((fds[1].revents & POLLIN) != 0) return;
    if ((fds[0].revents & POLLIN) != 0) ReadEvents();
  }
}

void CDirectoryWatcher::ReadEvents() {
  alignas(inotify_event) char buffer[64 * 1024];
  struct Move {
    std::string path;
    TreeList trees;
    bool isDir;
  };
  const auto holds = [](const TreeList& trees, const std::shared_ptr<Tree>& tree) {
    return std::find(trees.begin(), trees.end(), tree) != trees.end();
  };
  std::unordered_map<uint32_t, Move> movedFrom;  // by cookie, unpaired so far
  for (;;) {
    const ssize_t length = ::read(inotify_.Get(), buffer, sizeof buffer);
    if (length <= 0) break;
    for (const char* at = buffer; at < buffer + length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      at += sizeof(inotify_event) + event->len;
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        LOG(WARNING) << "inotify queue overflow: changes were lost; a full rescan will catch up "
                        "(see the fs.inotify.max_queued_events and fs.inotify.max_user_watches settings)";
        TreeList all;
        {
          std::lock_guard lock(mutex_);
          for (const auto& [root, tree] : trees_) all.push_back(tree);
        }
        for (const auto& tree : all) ReportLost(tree);
        continue;
      }
      std::string path;
      TreeList trees;  // the trees this event belongs to
      {
        std::lock_guard lock(mutex_);
        auto it = byWatch_.find(event->wd);
        if (it == byWatch_.end()) continue;
        if ((event->mask & IN_IGNORED) != 0) {
          byWatch_.erase(it);
          continue;
        }
        if (event->len == 0) continue;  // an event about the watched directory itself
        path = it->second.path + "/" + event->name;
        // A watch shared by nested trees may hold a directory that was
        // moved out of the inner tree but not yet let go of by it.
        for (const auto& tree : it->second.trees) {
          if (Below(path, tree->root)) trees.push_back(tree);
        }
      }
      const bool isDir = (event->mask & IN_ISDIR) != 0;
      if ((event->mask & IN_MOVED_FROM) != 0) {
        movedFrom[event->cookie] = Move{path, std::move(trees), isDir};
        continue;
      }
      if ((event->mask & IN_MOVED_TO) != 0) {
        auto from = movedFrom.find(event->cookie);
        if (from != movedFrom.end()) {
          const Move move = std::move(from->second);
          movedFrom.erase(from);
          // The watches below the old name now live below the new one.
          if (move.isDir) RenameWatches(move.path, path);
          for (const auto& tree : move.trees) {
            if (holds(trees, tree)) {
              if (!(IsTmpFile(move.path) && IsTmpFile(path))) tree->handler->OnNameChanged(move.path, path);
              continue;
            }
            // Moved out of this tree (into another tree that overlaps it).
            if (move.isDir) {
              std::lock_guard lock(mutex_);
              ReleaseLocked(tree, path);
            }
            if (!IsTmpFile(move.path)) tree->handler->OnRemoved(move.path);
          }
          TreeList arrived;  // moved into these trees from outside them
          for (const auto& tree : trees) {
            if (!holds(move.trees, tree)) arrived.push_back(tree);
          }
          if (isDir) WatchNew(path, arrived);
          if (!IsTmpFile(path)) {
            for (const auto& tree : arrived) tree->handler->OnAdded(path);
          }
          continue;
        }
        if (isDir) WatchNew(path, trees);
        if (!IsTmpFile(path)) {
          for (const auto& tree : trees) tree->handler->OnAdded(path);
        }
        continue;
      }
      if (isDir && (event->mask & IN_CREATE) != 0) WatchNew(path, trees);
      if (IsTmpFile(path)) continue;
      for (const auto& tree : trees) {
        CDirectoryChangeHandler& handler = *tree->handler;
        if ((event->mask & IN_CREATE) != 0) {
          handler.OnAdded(path);
        } else if ((event->mask & IN_DELETE) != 0) {
          handler.OnRemoved(path);
        } else if ((event->mask & (IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB)) != 0) {
          handler.OnModified(path);
        }
      }
    }
  }
  // A move whose other half never came left the trees (or came from outside).
  for (auto& [cookie, move] : movedFrom) {
    for (const auto& tree : move.trees) {
      if (move.isDir) {
        std::lock_guard lock(mutex_);
        ReleaseLocked(tree, move.path);
      }
      if (!IsTmpFile(move.path)) tree->handler->OnRemoved(move.path);
    }
  }
}

}  // namespace morvex::index
