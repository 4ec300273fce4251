#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "index/DirChangeHandler.h"
#include "platform/UniqueFd.h"

namespace morvex::index {

// Watches whole directory trees with inotify: one watch per directory,
// added as directories appear (created or moved in) and dropped as they go.
// Events become handler calls: a moved-from and moved-to pair with the same
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
  struct Directory {
    std::string path;
    std::shared_ptr<Tree> tree;
  };
  void Loop();
  void ReadEvents();
  // Watches `dir` and every directory below it (symbolic links are not
  // followed). Returns false when the kernel refused a watch.
  bool WatchRecursively(const std::string& dir, const std::shared_ptr<Tree>& tree);
  bool WatchOne(const std::string& dir, const std::shared_ptr<Tree>& tree);
  void ForgetTree(const std::shared_ptr<Tree>& tree);
  void ReportLost(const std::shared_ptr<Tree>& tree);

  platform::UniqueFd inotify_;
  platform::UniqueFd stop_;
  std::mutex mutex_;
  std::unordered_map<int, Directory> byWatch_;                 // guarded by mutex_
  std::unordered_map<std::string, std::shared_ptr<Tree>> trees_;  // by root; guarded by mutex_
  std::thread thread_;
};

}  // namespace morvex::index
