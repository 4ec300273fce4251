#include "sync/SyncRouter.h"

#include <glog/logging.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "config/ConfigTable.h"
#include "config/Settings.h"
#include "core/BroadcastService.h"
#include "core/MergeSorted.h"
#include "core/StatusBoard.h"
#include "device/DeviceQueries.h"
#include "peer/Relations.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"
#include "store/ContentResolver.h"
#include "sync/SyncDir.h"

namespace morvex::sync {

using store::CSelection;

namespace {

constexpr int kFrameWaitMs = 5000;

std::string EncodeId(int32_t id) {
  std::string bytes(sizeof id, '\0');
  std::memcpy(bytes.data(), &id, sizeof id);
  return bytes;
}

int32_t DecodeId(const protocol::ZmqFrame& frame) {
  int32_t id = 0;
  if (frame.Size() >= sizeof id) std::memcpy(&id, frame.Data(), sizeof id);
  return id;
}

// A report's outcome frame; a report without one (a worker's "ready")
// carries no pass, and an unknown byte counts as incomplete.
std::string EncodeOutcome(PassOutcome outcome) { return std::string(1, static_cast<char>(outcome)); }

PassOutcome DecodeOutcome(const protocol::ZmqFrame& frame) {
  if (frame.Size() != 1) return PassOutcome::kChangesLeft;
  const auto value = static_cast<PassOutcome>(static_cast<const uint8_t*>(frame.Data())[0]);
  switch (value) {
    case PassOutcome::kComplete:
    case PassOutcome::kNoRelation:
    case PassOutcome::kListingFailed:
    case PassOutcome::kChangesLeft:
      return value;
  }
  return PassOutcome::kChangesLeft;
}

// The pass of a real relation against its peer.
PassResult RunRelationPass(peer::PeerContext& peer, int32_t syncId) {
  CSyncDir relation(syncId);
  if (!relation.Valid()) return PassOutcome::kNoRelation;
  if (!relation.RunPass(peer)) return {PassOutcome::kListingFailed, relation.Report()};
  if (relation.Complete()) return PassOutcome::kComplete;
  return {PassOutcome::kChangesLeft, relation.Report()};
}

}  // namespace

CSyncWorker::CSyncWorker(protocol::ZmqContext& zmq, std::string name, PassRunner runPass)
    : CWorkThread(std::move(name)), zmq_(zmq), runPass_(std::move(runPass)) {}

CSyncWorker::~CSyncWorker() { Join(); }

uint32_t CSyncWorker::Run() {
  protocol::ZmqSocket socket(zmq_, ZMQ_REQ);
  socket.SetOption(ZMQ_IDENTITY, Name().data(), Name().size());
  socket.Connect(protocol::endpoints::kRouteSync);
  protocol::ZmqSocket exit = protocol::SubscribeExit(zmq_);
  socket.SendFrame(EncodeId(0), false);  // ready

  while (protocol::WaitForInputOrExit(exit, socket, -1) == protocol::Wake::kInput) {
    protocol::ZmqFrame job;
    if (!socket.WaitForInput(kFrameWaitMs) || !socket.RecvFrame(job)) {
      LOG(WARNING) << "Ooops, message receive error.";
      continue;
    }
    if (job.More()) {
      protocol::ZmqFrame rest;
      socket.RecvFrame(rest);
    }
    const int32_t syncId = DecodeId(job);
    core::CBroadcastService::Instance().Broadcast(core::BM_SYNC_BEGIN);
    PassResult result = runPass_(syncId);
    core::CBroadcastService::Instance().Broadcast(core::BM_SYNC_END);
    if (result.outcome != PassOutcome::kNoRelation) {
      core::CStatusBoard::Instance().SetPassReport(syncId, std::move(result.report));
    }
    socket.SendFrame(EncodeId(syncId), true);
    socket.SendFrame(EncodeOutcome(result.outcome), false);
  }
  return 0;
}

CSyncRouter::CSyncRouter(peer::PeerContext& peer, std::chrono::milliseconds interval, PassRunner runPass,
                         std::chrono::milliseconds retryDelay)
    : CWorkThread("SyncRouter"), peer_(peer), runPass_(std::move(runPass)), retryDelay_(retryDelay), interval_(0) {
  if (!runPass_) runPass_ = [&peer](int32_t syncId) { return RunRelationPass(peer, syncId); };
  SetInterval(interval);
  LOG(INFO) << "CSyncService Start on Device '" << peer_.config.Snapshot()->deviceName << "'.";
}

CSyncRouter::~CSyncRouter() {
  if (intervalWatch_) config::StopObservingConfig(intervalWatch_.get());
  {
    std::lock_guard lock(timerMutex_);
    timer_.reset();  // waits for a running tick
  }
  Join();
}

void CSyncRouter::OnChange(std::unique_ptr<store::CSQLiteCursor>) {
  protocol::PushOnce(peer_.zmq, protocol::endpoints::kSyncer, qo::MC_DEVICE_CHANGE);
}

void CSyncRouter::SetInterval(std::chrono::milliseconds interval) {
  std::lock_guard lock(timerMutex_);
  if (interval == interval_ && (timer_ != nullptr) == (interval.count() > 0)) return;
  interval_ = interval;
  // The tick never takes timerMutex_, so waiting for a running one here
  // cannot deadlock.
  timer_.reset();
  if (interval_.count() > 0) timer_ = timers_.Start(interval_, interval_, [this] { RequestAll(); });
  LOG(INFO) << "Periodic passes every " << interval_.count() << " ms";
}

void CSyncRouter::FollowStoredInterval() {
  intervalWatch_ = std::make_unique<IntervalWatch>(*this);
  config::ObserveConfig(intervalWatch_.get());
}

void CSyncRouter::IntervalWatch::OnChange(std::unique_ptr<store::CSQLiteCursor>) {
  router_.SetInterval(std::chrono::seconds(config::ReadStoredSyncInterval()));
}

void CSyncRouter::RequestAll() {
  for (const int32_t id : peer::RelationIds()) {
    qo::MsgWinSync sync;
    sync.set_sync_id(id);
    protocol::PushOnce(peer_.zmq, protocol::endpoints::kSyncer, qo::MC_WIN_SYNC, &sync);
  }
}

uint32_t CSyncRouter::Run() {
  protocol::ZmqSocket workers(peer_.zmq, ZMQ_ROUTER);
  protocol::ZmqSocket requests(peer_.zmq, ZMQ_PULL);
  protocol::ZmqSocket notices(peer_.zmq, ZMQ_SUB);
  protocol::ZmqSocket exit = protocol::SubscribeExit(peer_.zmq);
  notices.SetOption(ZMQ_MAXMSGSIZE, &kMaxPublishFrame, sizeof kMaxPublishFrame);
  notices.SetOption(ZMQ_HEARTBEAT_IVL, kHeartbeatIntervalMs);
  notices.SetOption(ZMQ_HEARTBEAT_TIMEOUT, kHeartbeatTimeoutMs);
  notices.Subscribe();
  // One monitor per router: tests run several in one process.
  const std::string monitorEndpoint = "inproc://syncer-monitor-" + std::to_string(reinterpret_cast<uintptr_t>(this));
  protocol::ZmqSocket monitor(peer_.zmq, ZMQ_PAIR);
  if (zmq_socket_monitor(notices.Handle(), monitorEndpoint.c_str(), ZMQ_EVENT_DISCONNECTED) != 0 ||
      !monitor.Connect(monitorEndpoint)) {
    LOG(WARNING) << "No monitor on the publish subscriptions: a dropped peer is seen offline only as it ages out";
  }
  if (!workers.Bind(protocol::endpoints::kRouteSync) || !requests.Bind(protocol::endpoints::kSyncer)) {
    LOG(ERROR) << "Failed to Init SyncRouter.";
    return 1;
  }
  std::vector<std::unique_ptr<CSyncWorker>> pool;
  for (int i = 0; i < kWorkerCount; ++i) {
    pool.push_back(std::make_unique<CSyncWorker>(peer_.zmq, "sync_worker" + std::to_string(i), runPass_));
    pool.back()->Resume();
    LOG(INFO) << "CZmqService Start on Device '" << peer_.config.Snapshot()->deviceName << "'.";
  }
  protocol::PushOnce(peer_.zmq, protocol::endpoints::kSyncer, qo::MC_DEVICE_CHANGE);
  device::ObserveDevices(this);
  // Whatever a stopped or killed service left undone is taken up at once,
  // not one interval later.
  RequestAll();

  for (;;) {
    zmq_pollitem_t items[] = {{exit.Handle(), 0, ZMQ_POLLIN, 0},
                              {requests.Handle(), 0, ZMQ_POLLIN, 0},
                              {notices.Handle(), 0, ZMQ_POLLIN, 0},
                              {workers.Handle(), 0, ZMQ_POLLIN, 0},
                              {monitor.Handle(), 0, ZMQ_POLLIN, 0}};
    if (zmq_poll(items, 5, -1) < 0) {
      if (zmq_errno() == EINTR) continue;
      break;
    }
    if ((items[0].revents & ZMQ_POLLIN) != 0) break;
    for (protocol::ZmqSocket* source : {&requests, &notices}) {
      if ((items[source == &requests ? 1 : 2].revents & ZMQ_POLLIN) == 0) continue;
      protocol::CQoMsg message;
      if (!message.Recv(*source, false, kFrameWaitMs)) continue;
      LOG(INFO) << "[Message   ] " << "SyncRouter Receive " << qo::MsgCode_Name(static_cast<qo::MsgCode>(message.Code()));
      if (message.Code() == qo::MC_DEVICE_CHANGE) {
        Reconcile(notices, workers);
      } else {
        OnMessage(message, workers);
      }
    }
    if ((items[3].revents & ZMQ_POLLIN) != 0) OnWorkerReport(workers);
    if ((items[4].revents & ZMQ_POLLIN) != 0) OnSubscriptionEvent(monitor);
  }
  zmq_socket_monitor(notices.Handle(), nullptr, 0);

  device::StopObservingDevices(this);
  retries_.clear();  // waits for a retry being pushed
  pool.clear();      // each ends on the exit notice
  return 0;
}

void CSyncRouter::OnMessage(protocol::CQoMsg& message, protocol::ZmqSocket& workers) {
  switch (message.Code()) {
    case qo::MC_WIN_SYNC: {
      qo::MsgWinSync sync;
      if (!message.ParseBody(sync)) {
        LOG(ERROR) << "Ooops! Wrong data format,Should never happened";
        return;
      }
      RequestPass(sync.sync_id(), workers);
      return;
    }
    case qo::MC_PUB_FILE_CHANGE: {
      qo::MsgPubFileChange change;
      if (!message.ParseBody(change)) {
        LOG(ERROR) << "Bad message format for MsgPubFileChange";
        return;
      }
      for (const int32_t id : peer::RelationIds(CSelection("peer_tree_uuid = ? ").AddString(change.tree_uuid()))) {
        RequestPass(id, workers);
      }
      return;
    }
    case qo::MC_PUB_EXIT: {
      qo::MsgPubExit exit;
      if (!message.ParseBody(exit)) {
        LOG(ERROR) << "Bad data format for MsgPubExit";
        return;
      }
      if (exit.publisher() == peer_.config.Snapshot()->deviceUuid) return;
      device::MarkOffline(exit.publisher());
      return;
    }
    default:
      LOG(ERROR) << "Unsupported Msg Code: " << message.Code();
  }
}

void CSyncRouter::Publish(int32_t syncId) const {
  const auto entry = schedule_.find(syncId);
  const uint32_t state = entry == schedule_.end() ? 0 : entry->second.state;
  core::CStatusBoard::Instance().SetSchedule(syncId, (state & kRunning) != 0, (state & kQueued) != 0);
}

void CSyncRouter::PublishPassEnd(int32_t syncId, PassOutcome outcome) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  core::CStatusBoard::Instance().PassEnded(syncId, outcome == PassOutcome::kComplete,
                                           std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void CSyncRouter::TellFailure(int32_t syncId, PassOutcome outcome) {
  if (outcome == PassOutcome::kComplete || outcome == PassOutcome::kNoRelation) {
    failing_.erase(syncId);
    return;
  }
  if (!failing_.insert(syncId).second) return;  // told when it began failing
  peer::Relation relation;
  if (!peer::LoadRelation(syncId, relation)) return;
  core::CBroadcastService::Instance().Broadcast(core::BM_PASS_FAILED,
                                                core::PathEvent{relation.peerDeviceUuid, relation.treeRoot});
}

void CSyncRouter::SendJob(protocol::ZmqSocket& workers, const std::string& identity, int32_t syncId) {
  workers.SendFrame(identity, true);
  workers.SendFrame(nullptr, 0, true);
  workers.SendFrame(EncodeId(syncId), false);
}

void CSyncRouter::RequestPass(int32_t syncId, protocol::ZmqSocket& workers) {
  const auto entry = schedule_.find(syncId);
  if (entry == schedule_.end()) {
    schedule_[syncId] = Slot{kQueued, peer::RelationTreeId(syncId)};
    waiting_.push_back(syncId);
    StartWaiting(workers);
    const Slot& slot = schedule_[syncId];
    if ((slot.state & kRunning) != 0) return;
    // Not started: every worker is busy, or another pass is writing into its tree.
    Publish(syncId);
    LOG(INFO) << "Waiting SyncOnce for dir " << syncId
              << (busyTrees_.count(slot.treeId) != 0 ? " (its folder has a pass running)" : "");
    return;
  }
  if ((entry->second.state & kRunning) == 0) {
    // Already waiting: the pass it waits for will see whatever this request is about.
    LOG(INFO) << "Ignoring SyncOnce for dir " << syncId;
    return;
  }
  // Running: changes may have come after its listing, so one more pass follows it.
  entry->second.state |= kQueued;
  Publish(syncId);
  LOG(INFO) << "Pending SyncOnce for dir " << syncId << ": second: " << entry->second.state;
}

void CSyncRouter::StartWaiting(protocol::ZmqSocket& workers) {
  auto next = waiting_.begin();
  while (!idleWorkers_.empty() && next != waiting_.end()) {
    const int32_t syncId = *next;
    Slot& slot = schedule_[syncId];
    if (slot.treeId != 0 && busyTrees_.count(slot.treeId) != 0) {
      // Its tree has a pass running: two passes writing one folder would
      // clash over the same files. It starts when that pass ends.
      ++next;
      continue;
    }
    next = waiting_.erase(next);
    slot.state = kRunning;
    if (slot.treeId != 0) busyTrees_.insert(slot.treeId);
    SendJob(workers, idleWorkers_.front(), syncId);
    idleWorkers_.pop_front();
    Publish(syncId);
    LOG(INFO) << "Issuing SyncOnce for dir " << syncId;
  }
}

void CSyncRouter::OnWorkerReport(protocol::ZmqSocket& workers) {
  protocol::ZmqFrame identity;
  protocol::ZmqFrame delimiter;
  protocol::ZmqFrame payload;
  if (!workers.WaitForInput(kFrameWaitMs) || !workers.RecvFrame(identity) || !identity.More() ||
      !workers.RecvFrame(delimiter)) {
    LOG(ERROR) << "Faild to receive worker.";
    return;
  }
  if (delimiter.More() && workers.RecvFrame(payload)) {
    const int32_t finished = DecodeId(payload);
    protocol::ZmqFrame outcomeFrame;
    const bool hasOutcome = payload.More() && workers.RecvFrame(outcomeFrame);
    const PassOutcome outcome = hasOutcome ? DecodeOutcome(outcomeFrame) : PassOutcome::kChangesLeft;
    const auto entry = finished == 0 ? schedule_.end() : schedule_.find(finished);
    if (entry != schedule_.end()) {
      entry->second.state &= ~static_cast<uint32_t>(kRunning);
      busyTrees_.erase(entry->second.treeId);
      if (entry->second.state == 0) {
        schedule_.erase(entry);
      } else {
        waiting_.push_back(finished);  // asked for again while it ran
      }
      PublishPassEnd(finished, outcome);
      Publish(finished);
      TellFailure(finished, outcome);
      ScheduleRetry(finished, outcome);
    }
  }
  // A worker's first report (id 0) only says it is ready.
  idleWorkers_.push_back(identity.ToString());
  StartWaiting(workers);
}

void CSyncRouter::ScheduleRetry(int32_t syncId, PassOutcome outcome) {
  // Complete: the next change notice or periodic request brings the next pass.
  if (outcome == PassOutcome::kComplete) return;
  peer::Relation relation;
  // Gone: nothing to retry.
  if (!peer::LoadRelation(syncId, relation)) return;
  // An offline peer is asked again when it comes back (Reconcile).
  if (!device::IsOnline(relation.peerDeviceUuid)) return;
  LOG(INFO) << "Retrying SyncOnce for dir " << syncId << " in " << retryDelay_.count() << " ms";
  retries_[syncId] = timers_.Start(retryDelay_, std::chrono::milliseconds(0), [this, syncId] {
    qo::MsgWinSync sync;
    sync.set_sync_id(syncId);
    protocol::PushOnce(peer_.zmq, protocol::endpoints::kSyncer, qo::MC_WIN_SYNC, &sync);
  });
}

void CSyncRouter::RequestPeerPasses(const std::string& deviceUuid, protocol::ZmqSocket& workers) {
  for (const int32_t id : peer::RelationIds(CSelection("peer_device_uuid = ? ").AddString(deviceUuid))) {
    RequestPass(id, workers);
  }
}

void CSyncRouter::OnSubscriptionEvent(protocol::ZmqSocket& monitor) {
  // Two frames: the event (16 bits) and its value (32 bits), then the
  // endpoint the connection was for.
  protocol::ZmqFrame event;
  protocol::ZmqFrame endpoint;
  if (!monitor.RecvFrame(event) || !event.More() || !monitor.RecvFrame(endpoint)) return;
  uint16_t code = 0;
  if (event.Size() >= sizeof code) std::memcpy(&code, event.Data(), sizeof code);
  const std::string uri = endpoint.ToString();
  // A connection this router closed itself is none of the devices' doing.
  if (code != ZMQ_EVENT_DISCONNECTED || subscriptions_.count(uri) == 0) return;
  for (const auto& [uuid, pubUri] : online_) {
    if (pubUri != uri) continue;
    LOG(WARNING) << "Publish connection to " << uri << " dropped: device " << uuid << " offline";
    device::MarkOffline(uuid);
  }
}

void CSyncRouter::Reconcile(protocol::ZmqSocket& notices, protocol::ZmqSocket& workers) {
  const std::string own = peer_.config.Snapshot()->deviceUuid;
  std::map<std::string, size_t> wanted;
  std::map<std::string, std::string> online;
  // Trusted devices that came online or publish somewhere new: id, UUID.
  // A device that only became trusted is not among them: its handshake may
  // still be under way on its side.
  std::vector<std::pair<int32_t, std::string>> cameOnline;
  for (device::OnlineDevice& row : device::OnlineDevices()) {
    std::string uuid = std::move(row.uuid);
    std::string uri = std::move(row.pubUri);
    if (uuid == own || uri.empty()) continue;
    const bool trusted = row.trusted;
    // Only trusted devices are subscribed to: a stranger's notices are of
    // no use to us, and its publish address, which it names itself, could
    // be any host and port. Several devices may share one URI (a device
    // that changed identity): one connection serves them all.
    if (trusted) ++wanted[uri];
    const auto before = online_.find(uuid);
    if (trusted && (before == online_.end() || before->second != uri)) cameOnline.emplace_back(row.id, uuid);
    online.emplace(std::move(uuid), std::move(uri));
  }
  online_ = std::move(online);

  // The subscriptions against the wanted URIs, both in URI order; the
  // changes are made after the walk, disconnections first.
  std::vector<std::string> unwanted;
  std::vector<std::pair<std::string, size_t>> missing;
  core::MergeSorted(
      subscriptions_, wanted, [](const auto& have, const auto& want) { return have.first.compare(want.first); },
      [&](const auto& have) { unwanted.push_back(have.first); }, [&](const auto& want) { missing.push_back(want); },
      // Connected already: only the number of devices behind it may change.
      [](auto& have, const auto& want) { have.second = want.second; });
  for (const std::string& uri : unwanted) {
    LOG(INFO) << "Disconnect " << uri;
    zmq_disconnect(notices.Handle(), uri.c_str());
    subscriptions_.erase(uri);
  }
  for (const auto& [uri, devices] : missing) {
    if (!notices.Connect(uri)) {
      // Not kept: it is tried again at the next reconcile.
      if (const auto skipped = connectFailed_.Occur()) {
        LOG(WARNING) << "Connect " << uri << " failed: " << zmq_strerror(notices.Error())
                     << core::LogThrottle::Repeated(*skipped);
      }
      continue;
    }
    LOG(INFO) << "Connect " << uri;
    subscriptions_.emplace(uri, devices);
  }

  for (const auto& [id, uuid] : cameOnline) {
    qo::MsgWinStatus status;
    status.set_device_id(id);
    protocol::PushOnce(peer_.zmq, protocol::endpoints::kStatus, qo::MC_WIN_STATUS, &status);
  }
  // A peer that is back may have changes, and may be owed a failed pass.
  for (const auto& [id, uuid] : cameOnline) RequestPeerPasses(uuid, workers);
}

}  // namespace morvex::sync
