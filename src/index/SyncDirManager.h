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
// Design (the index's routing; no thread of its own):
//  - Jobs: changed paths (watcher events, collected per tree by its
//    CQoDirChangeHandler) and whole-tree rescans.
//  - Who runs what: the watcher's thread fills the pending sets; the flush
//    timer (one TimerService thread) hands each tree's set, as one
//    MC_WIN_READ_DIR_CHANGE, to the indexer thread ("inproc://indexer.inproc",
//    CIndexThread); rescans go as MC_WIN_REFRESH to the refresher thread
//    ("inproc://refresher.inproc", CRefreshThread), which also takes them
//    from the folder commands.
//  - Order: each tree's paths reach the indexer in flush order, one batch
//    per tree and flush; the refresher takes trees in the order asked, each
//    at most once in its queue.
//  - Results: none return to this manager. Both threads write their rows
//    themselves and, when rows changed, publish one change notice to the
//    peers; paths not readable yet stay with the indexer, which retries
//    them on its own.
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
