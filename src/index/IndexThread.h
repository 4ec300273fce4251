#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "index/IndexContext.h"
#include "platform/TimerService.h"
#include "protocol/InprocWorker.h"

namespace morvex::index {

// The incremental indexer ("indexer"): turns each batch of changed paths
// of one tree (MC_WIN_READ_DIR_CHANGE on "inproc://indexer.inproc") into
// one database batch and, when rows changed, one change notice to peers.
// Paths inside a directory are handled before the directory; new
// directories are walked, so content created before a watch existed is
// indexed too. Paths that cannot be read yet (a file still being written)
// wait in a retry map and are tried again on every retry tick
// (MC_WIN_TIMER, sent by its own timer every minute).
//
// Design: one thread takes messages in arrival order, so a batch and a retry
// tick never run at once; nothing is returned to the sender (the manager's
// flush is fire-and-forget): the outcome is the database batch and the
// change notice, and what failed stays in the retry map for the next tick.
// See CSyncDirManager for who sends what.
//
// Threads: the processing and the retry map belong to the indexer thread;
// the timer thread only sends the tick.
class CIndexThread final : public protocol::CInprocWorker {
 public:
  static constexpr auto kRetryPeriod = std::chrono::milliseconds(60000);

  explicit CIndexThread(IndexContext context, std::chrono::milliseconds retryPeriod = kRetryPeriod);
  ~CIndexThread() override;

 private:
  void OnMessage(protocol::CQoMsg& message) override;
  void ProcessBatch(const qo::MsgWinReadDirChange& change);
  void Retry();

  IndexContext context_;
  platform::TimerService timers_;
  std::unique_ptr<platform::TimerService::Timer> retryTimer_;
  std::map<int32_t, std::set<std::string>> retry_;  // tree id -> paths; indexer thread only
};

}  // namespace morvex::index
