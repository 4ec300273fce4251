#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "protocol/ZmqSocket.h"

namespace morvex::index {

// Receives the changes of one watched tree. Paths are full paths.
// Threads: called on the watcher's thread.
class CDirectoryChangeHandler {
 public:
  virtual ~CDirectoryChangeHandler() = default;
  virtual void OnAdded(const std::string& /*path*/) {}
  virtual void OnRemoved(const std::string& /*path*/) {}
  virtual void OnNameChanged(const std::string& /*oldPath*/, const std::string& /*newPath*/) {}
  virtual void OnModified(const std::string& /*path*/) {}
  // Changes were lost (the kernel's queue overflowed, or no more watches
  // could be added): only a full rescan of the tree can catch up.
  virtual void OnChangesLost() {}
};

// The tree handler of the service: collects changed paths until the watch
// manager flushes them to the indexer, so a file written many times
// between two flushes is indexed once.
//
// Threads: the watcher's thread adds, the manager's timer thread flushes;
// mutex_ guards the pending set, so paths added during a flush go into the
// next one.
class CQoDirChangeHandler final : public CDirectoryChangeHandler {
 public:
  CQoDirChangeHandler(int32_t treeId, std::string root) : treeId_(treeId), root_(std::move(root)) {}

  void OnAdded(const std::string& path) override { Add(path); }
  void OnRemoved(const std::string& path) override { Add(path); }
  void OnModified(const std::string& path) override { Add(path); }
  void OnNameChanged(const std::string& oldPath, const std::string& newPath) override;
  void OnChangesLost() override { lost_ = true; }

  // Sends the pending paths as one MC_WIN_READ_DIR_CHANGE; nothing when
  // there are none.
  void FlushPending(protocol::ZmqSocket& indexer);
  // True once after changes were lost.
  bool TakeChangesLost() { return lost_.exchange(false); }

  int32_t TreeId() const { return treeId_; }
  const std::string& Root() const { return root_; }

 private:
  void Add(const std::string& path);

  const int32_t treeId_;
  const std::string root_;
  std::mutex mutex_;
  std::unordered_set<std::string> pending_;  // guarded by mutex_
  std::atomic<bool> lost_{false};
};

}  // namespace morvex::index
