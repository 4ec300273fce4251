#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/WorkThread.h"
#include "peer/PeerContext.h"
#include "peer/RespWorker.h"
#include "platform/TimerService.h"
#include "platform/UniqueFd.h"
#include "protocol/QoMsg.h"
#include "store/ContentObserver.h"

namespace morvex::peer {

// The service's front door, on its own thread ("router"): binds the route
// port (ROUTER, requests from peers and this device's tools), the publish
// port (PUB, change and exit notices) and the UDP discovery port; hands each
// request to an idle one of four request workers and passes the answer
// back; broadcasts the discovery datagram at start, on command and every
// 60 s, answers others' datagrams, ages silent devices, and rebinds when
// the configured ports change. Discovery reaches the workers only from the
// UDP socket: the route port refuses MC_DISCOVER, so a datagram's source
// address is the one the kernel reported.
//
// Design:
//  - Jobs: a request from the route port, or a discovery datagram (wrapped
//    as MC_DISCOVER), goes whole to one worker on
//    "inproc://routeresp.inproc", with the requester's identity in front.
//  - Order: the router thread polls, in turn, the exit notice, commands,
//    worker replies, then requests and datagrams. Idle workers are taken
//    oldest first. Requests and datagrams are read only while a worker is
//    idle; until then they wait in their sockets (kQueuedFrames), so one
//    worker has one request at a time and nothing queues in the router.
//  - Results: a worker's reply carries the requester's identity and the
//    answer; the router passes it back on the route port unchanged. A reply
//    headed MC_WIN_WORKER_READY (the worker's first word, or a job that has
//    no answer, such as a datagram) only marks the worker idle again.
//  - Commands ("inproc://command.inproc": discovery answers, change notices
//    to publish, a discovery now, a reconfiguration) run on the router
//    thread between jobs; none waits for a worker.
//  - On the exit notice the router publishes MC_PUB_EXIT and stops; each
//    worker ends on the same notice.
//
// Threads: every ZeroMQ socket here belongs to the router thread. The timer
// thread broadcasts and ages devices; it shares only the UDP socket, whose
// descriptor udpMutex_ guards. Other threads reach the router through
// "inproc://command.inproc"; its Config observer only pushes a command.
class CRespRouter final : public core::CWorkThread, public store::CContentObserver {
 public:
  static constexpr int kWorkerCount = 4;
  static constexpr auto kTimerPeriod = std::chrono::milliseconds(60000);
  static constexpr size_t kDatagramSize = 1024;
  // The largest frame the route port takes. The largest legal message is
  // a part answer (1 MiB of file data plus head, signature, wrapped key and
  // cipher padding, a few hundred bytes); requests are far smaller. A peer
  // that announces a longer frame is disconnected at the frame's header,
  // before anything is allocated for it.
  static constexpr int64_t kMaxFrameBytes = 4 << 20;
  static constexpr int kQueuedFrames = 64;

  explicit CRespRouter(PeerContext& peer, std::chrono::milliseconds timerPeriod = kTimerPeriod);
  ~CRespRouter() override;

  // Config observer: asks the router thread to re-read the ports.
  std::unique_ptr<store::CSQLiteCursor> Query() override { return nullptr; }
  void OnChange(std::unique_ptr<store::CSQLiteCursor> cursor) override;

  // The timer's work, also callable from tests.
  void IssueDiscover();
  void AgeDevices();

 private:
  struct Ports {
    uint16_t broadcast;
    uint16_t route;
    uint16_t publish;
  };
  uint32_t Run() override;
  static Ports ReadPorts();
  bool OpenUdp(uint16_t port);
  void CloseUdp();
  void SendDatagram(const qo::MsgDiscover& discover, const std::string& address);
  protocol::ZmqSocket BindFrontend(uint16_t port);
  void HandleWorker(protocol::ZmqSocket& backend, protocol::ZmqSocket& frontend);
  void HandleRequest(protocol::ZmqSocket& backend);
  void HandleDatagram(protocol::ZmqSocket& backend);
  void TellOtherPassword(const std::string& address);
  void HandleCommand(protocol::ZmqSocket& commands);
  void Reconfigure();
  // Binds the route port anew once every worker is free.
  void MoveFrontendWhenIdle();
  void PublishExit();

  PeerContext& peer_;
  std::chrono::milliseconds timerPeriod_;
  platform::TimerService timers_;
  std::unique_ptr<platform::TimerService::Timer> timer_;

  // Router-thread state.
  Ports ports_{};
  protocol::ZmqSocket frontend_;
  bool frontendMoving_ = false;  // the route port changed, the old socket still bound
  protocol::ZmqSocket publisher_;
  struct IdleWorker {
    std::string identity;
  };
  std::deque<IdleWorker> idle_;  // oldest first; bounded by kWorkerCount
  // Addresses whose datagrams carried another sync password, told to the
  // user once each; bounded by kMaxOtherPasswordAddresses.
  std::unordered_set<std::string> otherPasswordTold_;

  std::mutex udpMutex_;
  platform::UniqueFd udp_;          // guarded by udpMutex_
  std::atomic<uint16_t> udpPort_{0};
};

}  // namespace morvex::peer
