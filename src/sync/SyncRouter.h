#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/LogThrottle.h"
#include "core/StatusBoard.h"
#include "core/WorkThread.h"
#include "peer/PeerContext.h"
#include "platform/TimerService.h"
#include "protocol/QoMsg.h"
#include "store/ContentObserver.h"

namespace morvex::sync {

// How a pass ended, as its worker reports it to the router: complete, or
// why not. Anything but kComplete is an incomplete pass, which the router
// retries while the relation exists and its peer is online.
enum class PassOutcome : uint8_t {
  kComplete = 0,
  kNoRelation,     // the relation is gone (removed meanwhile)
  kListingFailed,  // nothing was applied: the peer did not list its tree
  kChangesLeft,    // applied in part: a file or a fetch failed
};

// How a pass ended and, when incomplete, why.
struct PassResult {
  // Implicit: an outcome alone is a result without a report.
  PassResult(PassOutcome how = PassOutcome::kComplete, core::PassReport why = {})  // NOLINT
      : outcome(how), report(std::move(why)) {}
  PassOutcome outcome;
  core::PassReport report;
};

// Runs one pass of a relation (the sync workers' job) and returns how it
// ended; tests put their own.
using PassRunner = std::function<PassResult(int32_t syncId)>;

// Runs passes for the sync workers: takes the next relation from the
// router, runs its pass between the begin and end broadcasts, and replies
// with the relation and the pass's outcome.
class CSyncWorker final : public core::CWorkThread {
 public:
  CSyncWorker(protocol::ZmqContext& zmq, std::string name, PassRunner runPass);
  ~CSyncWorker() override;

 private:
  uint32_t Run() override;
  protocol::ZmqContext& zmq_;
  PassRunner runPass_;
};

// Decides when each relation gets a pass and hands passes to four workers.
//
// Design:
//  - Requests come from the periodic timer, from peers' change notices, from
//    retries of incomplete passes and through "inproc://syncer.inproc" from
//    anywhere in the process.
//  - Never two passes of one relation at once: a request for a running
//    relation folds into one more pass after it; a request for a waiting one
//    is dropped (the pass it waits for sees the same changes).
//  - Never two passes into one local tree at once: a device in the middle of
//    a chain has several relations on one tree, and their passes would write
//    the same files. A relation whose tree has a pass running waits, without
//    holding a worker, until that pass ends. Passes of different trees run in
//    parallel.
//  - Waiting relations start in the order they were requested, oldest first,
//    skipping those whose tree is busy.
//  - A worker's report carries the relation whose pass ended and how it
//    ended (PassOutcome); it frees the worker and the tree, and the next
//    waiting relation starts.
//  - The router alone decides on a retry, from that outcome: an incomplete
//    pass is requested again after the retry delay while its peer is
//    online; a complete one is not. The status board only shows what the
//    router and the passes did; nothing reads it back to decide. The
//    worker puts the pass's report (why it was incomplete) on the board
//    itself, before its report frame.
//  - A relation whose pass fails after a complete one (or as its first) is
//    told to the interfaces (BM_PASS_FAILED) once; its retries that fail
//    too are not, so that an absent peer does not fill the history.
//  - One subscription per distinct publish address of the online trusted
//    devices, counted by the devices that use it, following the Device
//    table: a subscription is connected when its first device comes online
//    and disconnected when its last one goes; nothing else reconnects it.
//    Heartbeats watch each connection; a socket monitor reports a dropped
//    one and the router marks the devices behind it offline.
//
// Threads: the schedule, the idle workers and the subscriptions belong to
// the router thread ("SyncRouter"). Each pass runs on one of the four
// worker threads ("sync_worker0".."3"), which share nothing with the router
// but the job and report frames on "inproc://routesync.inproc". The timers
// (periodic requests, retries: one TimerService thread) and the Device
// observer only push messages to the router.
class CSyncRouter final : public core::CWorkThread, public store::CContentObserver {
 public:
  static constexpr int kWorkerCount = 4;
  enum State : uint32_t { kRunning = 1, kQueued = 2 };

  // The largest frame taken from a publish subscription. Legal publish
  // messages are a head and a body of a few UUIDs (under 300 bytes); a
  // larger frame drops that connection instead of being held in memory.
  // ZeroMQ takes it for a protocol error and does not reconnect: the
  // subscription is made again when the device next comes online.
  static constexpr int64_t kMaxPublishFrame = 16 * 1024;

  // ZeroMQ heartbeats on the publish subscriptions: a peer whose cable was
  // pulled sends no FIN, and without them its connection would look alive
  // until TCP gave up. A connection dropped marks its devices offline.
  static constexpr int kHeartbeatIntervalMs = 3000;
  static constexpr int kHeartbeatTimeoutMs = 9000;

  // A pass that ended incomplete (the peer vanished, a file failed) is
  // tried again after this long while its peer is online.
  static constexpr auto kRetryDelay = std::chrono::seconds(30);

  // `interval` zero: no periodic passes. Without `runPass`, passes are real
  // passes over `peer`.
  CSyncRouter(peer::PeerContext& peer, std::chrono::milliseconds interval, PassRunner runPass = {},
              std::chrono::milliseconds retryDelay = kRetryDelay);
  ~CSyncRouter() override;

  // Device observer: asks the router thread to reconcile subscriptions.
  std::unique_ptr<store::CSQLiteCursor> Query() override { return nullptr; }
  void OnChange(std::unique_ptr<store::CSQLiteCursor> cursor) override;

  // The periodic timer's work: one request per relation.
  void RequestAll();

  // Restarts the periodic timer with a new period (zero: none).
  void SetInterval(std::chrono::milliseconds interval);
  // From now on the period is the stored sync interval, whenever Config
  // changes (the service's router; tests give theirs by hand).
  void FollowStoredInterval();

 private:
  uint32_t Run() override;
  void RequestPass(int32_t syncId, protocol::ZmqSocket& workers);
  // Hands waiting relations to idle workers, oldest first, skipping any
  // whose tree has a pass running.
  void StartWaiting(protocol::ZmqSocket& workers);
  void OnWorkerReport(protocol::ZmqSocket& workers);
  void OnMessage(protocol::CQoMsg& message, protocol::ZmqSocket& workers);
  void Reconcile(protocol::ZmqSocket& notices, protocol::ZmqSocket& workers);
  // A subscription's connection dropped (its monitor's event): the devices
  // publishing there are offline until they announce themselves again.
  void OnSubscriptionEvent(protocol::ZmqSocket& monitor);
  // After a pass: another one later when it ended incomplete.
  void ScheduleRetry(int32_t syncId, PassOutcome outcome);
  // Passes for every relation with this peer (it came online).
  void RequestPeerPasses(const std::string& deviceUuid, protocol::ZmqSocket& workers);
  static void SendJob(protocol::ZmqSocket& workers, const std::string& identity, int32_t syncId);
  // Shows a relation's schedule state to the status requests.
  void Publish(int32_t syncId) const;
  // Shows how a relation's last pass ended to the status requests.
  static void PublishPassEnd(int32_t syncId, PassOutcome outcome);
  // BM_PASS_FAILED when this pass turns a complete (or new) relation incomplete.
  void TellFailure(int32_t syncId, PassOutcome outcome);

  // Config observer of FollowStoredInterval.
  class IntervalWatch final : public store::CContentObserver {
   public:
    explicit IntervalWatch(CSyncRouter& router) : router_(router) {}
    std::unique_ptr<store::CSQLiteCursor> Query() override { return nullptr; }
    void OnChange(std::unique_ptr<store::CSQLiteCursor> cursor) override;

   private:
    CSyncRouter& router_;
  };

  peer::PeerContext& peer_;
  PassRunner runPass_;
  std::chrono::milliseconds retryDelay_;
  platform::TimerService timers_;
  std::mutex timerMutex_;  // guards interval_ and timer_
  std::chrono::milliseconds interval_;
  std::unique_ptr<platform::TimerService::Timer> timer_;
  std::unique_ptr<IntervalWatch> intervalWatch_;

  // A relation with a pass running or asked for.
  struct Slot {
    uint32_t state = 0;  // kRunning, kQueued
    int32_t treeId = 0;  // its local tree; 0: no such relation (any pass of it ends at once)
  };

  // Router-thread state.
  std::unordered_map<int32_t, Slot> schedule_;
  std::deque<int32_t> waiting_;  // queued and not running, oldest first
  std::unordered_set<int32_t> busyTrees_;  // trees with a pass running
  std::deque<std::string> idleWorkers_;
  // Publish URI -> how many online devices publish there; every URI here
  // has one connection of the subscription socket.
  std::map<std::string, size_t> subscriptions_;
  // The devices online at the last reconcile: UUID -> publish URI.
  std::map<std::string, std::string> online_;
  // A publish URI that cannot be connected comes back on every reconcile.
  core::LogThrottle connectFailed_;
  std::unordered_map<int32_t, std::unique_ptr<platform::TimerService::Timer>> retries_;
  // Relations whose last pass was incomplete (and told as such).
  std::unordered_set<int32_t> failing_;
};

}  // namespace morvex::sync
