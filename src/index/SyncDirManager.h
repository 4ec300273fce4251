#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "index/DirChangeHandler.h"
#include "index/DirectoryWatcher.h"
#include "index/IndexContext.h"
#include "platform/TimerService.h"
#include "store/ContentObserver.h"

namespace morvex::index {

// Keeps one watch per row of Tree and drives incremental indexing: when
// trees are added or deleted it stops the watches of vanished roots, starts
// watches for new ones and asks the full rescan for every newly watched
// tree; every flush period it sends each tree's pending paths to the
// indexer. A tree whose changes were lost (the kernel's queue overflowed)
// is rescanned in full.
//
// Threads: OnChange runs on the thread that changed Tree, the flush on the
// timer thread, the handlers fill their pending sets on the watcher's
// thread. mutex_ guards the watch list.
class CSyncDirManager final : public store::CContentObserver {
 public:
  static constexpr auto kFlushPeriod = std::chrono::milliseconds(2000);

  explicit CSyncDirManager(IndexContext context, std::chrono::milliseconds flushPeriod = kFlushPeriod);
  ~CSyncDirManager() override;

  void Start();
  void Stop();

  std::unique_ptr<store::CSQLiteCursor> Query() override;
  void OnChange(std::unique_ptr<store::CSQLiteCursor> cursor) override;

 private:
  void Flush();
  void RequestRescan(const std::vector<int32_t>& treeIds);

  IndexContext context_;
  std::chrono::milliseconds flushPeriod_;
  CDirectoryWatcher watcher_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<CQoDirChangeHandler>> watches_;  // sorted by root; guarded by mutex_
  platform::TimerService timers_;
  std::unique_ptr<platform::TimerService::Timer> timer_;
  bool observing_ = false;
};

}  // namespace morvex::index
