#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "index/DirChangeHandler.h"
#include "platform/UniqueFd.h"

namespace morvex::index {

// Watches whole directory trees with inotify: one watch per directory,
// added as directories appear (created or moved in) and dropped as they go.
// The kernel gives one watch descriptor per directory however often it is
// added, so trees that overlap (one root inside another) share the watches
// of their common directories: each watch counts the trees that hold it and
// is removed only when the last of them lets it go, and an event on a shared
// watch goes to every tree that contains its path. Events become handler
// calls: a moved-from and moved-to pair with the same
// cookie is one rename, an unpaired half a removal or an addition. Names
// ending in ".~morvex" (downloads in progress) are not reported; a rename
// is dropped only when both of its names are.
//
// A new directory is reported itself; the indexer walks it, so entries
// created in it before its watch existed are still indexed. A queue
// overflow, or the kernel's watch limit, is reported to the handlers as lost
// changes (a full rescan catches up) with a WARNING naming the
// fs.inotify.max_user_watches setting.
//
// Threads: AddWatch and RemoveWatch on any thread; handlers are called on
// the watcher's own thread ("dirwatch"). mutex_ guards the watch tables.
class CDirectoryWatcher {
 public:
  CDirectoryWatcher();
  CDirectoryWatcher(const CDirectoryWatcher&) = delete;
  CDirectoryWatcher& operator=(const CDirectoryWatcher&) = delete;
  ~CDirectoryWatcher();

  // 0, or an errno value (ENOTDIR, ENOENT, ...). The handler is shared with
  // the caller and kept until RemoveWatch.
  int AddWatch(const std::string& root, std::shared_ptr<CDirectoryChangeHandler> handler);
  // True when a watch of that root existed.
  bool RemoveWatch(const std::string& root);
  void RemoveAllWatches();

 private:
  struct Tree {
    std::string root;
    std::shared_ptr<CDirectoryChangeHandler> handler;
  };
  using TreeList = std::vector<std::shared_ptr<Tree>>;
  // One inotify watch: the directory's current path and the trees that
  // hold the watch (each at most once).
  struct Directory {
    std::string path;
    TreeList trees;
  };
  void Loop();
  void ReadEvents();
  // Watches `dir` and every directory below it (symbolic links are not
  // followed). Returns false when the kernel refused a watch.
  bool WatchRecursively(const std::string& dir, const std::shared_ptr<Tree>& tree);
  bool WatchOne(const std::string& dir, const std::shared_ptr<Tree>& tree);
  // Lets `tree` go of the watches of `dir` and below (all of them when
  // `dir` is empty); a watch no tree holds any more is removed. Callers
  // hold mutex_.
  void ReleaseLocked(const std::shared_ptr<Tree>& tree, const std::string& dir);
  void ReportLost(const std::shared_ptr<Tree>& tree);
  // Moves the watch paths of `oldPath` and below to `newPath`.
  void RenameWatches(const std::string& oldPath, const std::string& newPath);
  // A directory that appeared at `path`: watched for each of `trees`.
  void WatchNew(const std::string& path, const TreeList& trees);

  platform::UniqueFd inotify_;
  platform::UniqueFd stop_;
  std::mutex mutex_;
  std::unordered_map<int, Directory> byWatch_;                 // guarded by mutex_
  std::unordered_map<std::string, std::shared_ptr<Tree>> trees_;  // by root; guarded by mutex_
  std::thread thread_;
};

}  // namespace morvex::index
