#include "peer/RespRouter.h"

#include <arpa/inet.h>
#include <glog/logging.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "config/ConfigTable.h"
#include "core/BroadcastService.h"
#include "device/Device.h"
#include "device/DeviceQueries.h"
#include "peer/DiscoveryDatagram.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/SslUtils.h"
#include "protocol/WorkerChannel.h"

namespace morvex::peer {

namespace {

constexpr int kFrameWaitMs = 5000;

std::string TcpEndpoint(uint16_t port) { return "tcp://*:" + std::to_string(port); }

}  // namespace

CRespRouter::CRespRouter(PeerContext& peer, std::chrono::milliseconds timerPeriod)
    : CWorkThread("router"), peer_(peer), timerPeriod_(timerPeriod) {
  LOG(INFO) << "CZmqService Start on Device '" << peer_.config.Snapshot()->deviceName << "'.";
  timer_ = timers_.Start(timerPeriod_, timerPeriod_, [this] {
    IssueDiscover();
    AgeDevices();
  });
}

CRespRouter::~CRespRouter() {
  timer_.reset();  // waits for a running tick
  Join();
}

void CRespRouter::OnChange(std::unique_ptr<store::CSQLiteCursor>) {
  protocol::PushOnce(peer_.zmq, protocol::endpoints::kCommand, qo::MC_WIN_RECONFIG);
}

CRespRouter::Ports CRespRouter::ReadPorts() {
  const config::StoredPorts stored = config::ReadStoredPorts();
  return {stored.broadcast, stored.route, stored.publish};
}

bool CRespRouter::OpenUdp(uint16_t port) {
  platform::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  if (!fd.Valid() || ::setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    LOG(ERROR) << "setsockopt (SO_BROADCAST)";
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    LOG(ERROR) << "Faid to bind udp socket on port[" << errno << "]: " << port;
    return false;
  }
  std::lock_guard lock(udpMutex_);
  udp_ = std::move(fd);
  udpPort_ = port;
  return true;
}

void CRespRouter::CloseUdp() {
  std::lock_guard lock(udpMutex_);
  udp_.Reset();
}

void CRespRouter::SendDatagram(const qo::MsgDiscover& discover, const std::string& address) {
  const auto config = peer_.config.Snapshot();
  std::string cipher;
  if (!protocol::ssl::AesCipher(config->tokenKey).Encrypt(discover.SerializeAsString(), cipher)) {
    LOG(ERROR) << "Failed to encrypt the discovery datagram";
    return;
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(udpPort_.load());
  if (::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) {
    LOG(WARNING) << "Bad address for a discovery datagram: " << address;
    return;
  }
  std::lock_guard lock(udpMutex_);
  if (!udp_.Valid()) return;
  const ssize_t sent = ::sendto(udp_.Get(), cipher.data(), cipher.size(), MSG_DONTROUTE,
                                reinterpret_cast<sockaddr*>(&target), sizeof target);
  if (sent <= 0) LOG(WARNING) << "Oops! Broadcast send " << sent << "bytes";
}

void CRespRouter::IssueDiscover() {
  const auto config = peer_.config.Snapshot();
  qo::MsgDiscover discover;
  discover.set_is_response(qo::PB_FALSE);
  discover.set_device_uuid(config->deviceUuid);
  discover.set_device_name(config->deviceName);
  discover.set_device_type(qo::DEVICE_LINUX);
  discover.set_route_port(config->routePort);
  discover.set_pub_port(config->pubPort);
  discover.set_public_key(config->publicKey);
  const auto addresses = peer_.broadcastAddresses ? peer_.broadcastAddresses() : std::nullopt;
  if (!addresses) {
    LOG(ERROR) << "Failed to QueryBroadcastAddress";
    return;
  }
  for (const std::string& address : *addresses) SendDatagram(discover, address);
}

void CRespRouter::AgeDevices() {
  device::AgeDevices(peer_.config.Snapshot()->deviceUuid);
}

void CRespRouter::PublishExit() {
  qo::MsgPubExit exit;
  exit.set_publisher(peer_.config.Snapshot()->deviceUuid);
  publisher_.SendMsg(qo::MC_PUB_EXIT, &exit);
}

void CRespRouter::HandleWorker(protocol::ZmqSocket& backend, protocol::ZmqSocket& frontend) {
  protocol::ZmqFrame identity;
  protocol::ZmqFrame delimiter;
  if (!backend.WaitForInput(kFrameWaitMs) || !backend.RecvFrame(identity) ||
      (identity.More() && !backend.RecvFrame(delimiter))) {
    LOG(ERROR) << "Faild to receive worker.";
    return;
  }
  idle_.push_back({identity.ToString()});
  protocol::ZmqFrame requester;
  protocol::ZmqFrame empty;
  protocol::ZmqFrame head;
  protocol::ZmqFrame body;
  if (!backend.WaitForInput(kFrameWaitMs) || !backend.RecvFrame(requester) ||
      (requester.More() && !backend.RecvFrame(empty)) || !backend.RecvFrame(head) ||
      (head.More() && !backend.RecvFrame(body))) {
    LOG(ERROR) << "Addr recv failed.";
    return;
  }
  qo::MsgHead parsed;
  if (parsed.ParseFromArray(head.Data(), static_cast<int>(head.Size())) && parsed.code() == qo::MC_WIN_WORKER_READY) {
    return;  // a worker's announcement or the end of a job without answer
  }
  frontend.SendFrame(requester.Data(), requester.Size(), true);
  frontend.SendFrame(nullptr, 0, true);
  frontend.SendFrame(head.Data(), head.Size(), head.More());
  if (head.More()) frontend.SendFrame(body.Data(), body.Size(), false);
}

protocol::ZmqSocket CRespRouter::BindFrontend(uint16_t port) {
  protocol::ZmqSocket frontend(peer_.zmq, ZMQ_ROUTER);
  const int64_t limit = kMaxFrameBytes;
  frontend.SetOption(ZMQ_MAXMSGSIZE, &limit, sizeof limit);
  // While every worker is busy, requests wait here and then in the
  // connection's TCP buffers: one connection holds at most this many frames.
  frontend.SetOption(ZMQ_RCVHWM, kQueuedFrames);
  frontend.Bind(TcpEndpoint(port));
  return frontend;
}

// One request from the route port: requester's identity, the delimiter, the
// head and the rest. The head is read here so that a discovery message,
// which only the UDP path may carry, never reaches a worker.
void CRespRouter::HandleRequest(protocol::ZmqSocket& backend) {
  protocol::ZmqFrame frames[3];  // identity, delimiter, head
  size_t count = 0;
  do {
    if (!frontend_.RecvFrame(frames[count])) return;
    ++count;
  } while (count < 3 && frames[count - 1].More());
  qo::MsgHead head;
  const bool discover = count == 3 && head.ParseFromArray(frames[2].Data(), static_cast<int>(frames[2].Size())) &&
                        head.code() == qo::MC_DISCOVER;
  if (discover) {
    for (bool more = frames[2].More(); more;) {
      protocol::ZmqFrame rest;
      if (!frontend_.RecvFrame(rest)) break;
      more = rest.More();
    }
    if (const auto more = peer_.repeatedLog->Admit("route discover")) {
      LOG(WARNING) << "Refused a discovery message on the route port" << *more;
    }
    frontend_.SendFrame(frames[0].Data(), frames[0].Size(), true);
    frontend_.SendFrame(nullptr, 0, true);
    frontend_.SendError(qo::ZE_PERMISSION_DENY);
    return;
  }
  const IdleWorker worker = idle_.front();
  idle_.pop_front();
  backend.SendFrame(worker.identity, true);
  backend.SendFrame(nullptr, 0, true);
  for (size_t i = 0; i < count; ++i) backend.SendFrame(frames[i].Data(), frames[i].Size(), frames[i].More());
  if (frames[count - 1].More()) frontend_.ForwardTo(backend);
}

// A device that sends with another password is invisible here, and we to
// it: the user hears of it once per address and service run (the log line
// above repeats once a minute), not in every minute's history.
void CRespRouter::TellOtherPassword(const std::string& address) {
  constexpr size_t kMaxOtherPasswordAddresses = 256;
  if (otherPasswordTold_.size() >= kMaxOtherPasswordAddresses) return;
  if (!otherPasswordTold_.insert(address).second) return;
  core::CBroadcastService::Instance().Broadcast(core::BM_OTHER_PASSWORD, core::AddressEvent{address});
}

void CRespRouter::HandleDatagram(protocol::ZmqSocket& backend) {
  char buffer[kDatagramSize];
  sockaddr_in source{};
  socklen_t length = sizeof source;
  ssize_t received;
  {
    std::lock_guard lock(udpMutex_);
    received = ::recvfrom(udp_.Get(), buffer, sizeof buffer, MSG_TRUNC | MSG_DONTWAIT,
                          reinterpret_cast<sockaddr*>(&source), &length);
  }
  if (received < 0 || static_cast<size_t>(received) > sizeof buffer) {
    // Anyone can send an oversized datagram, as often as they like.
    if (const auto more = peer_.repeatedLog->Admit("recvfrom")) LOG(ERROR) << "Faied to recvfrom udp socket." << *more;
    return;
  }
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &source.sin_addr, text, sizeof text);
  DatagramFault fault{};
  const auto datagram =
      DecodeDatagram(peer_.config.Snapshot()->tokenKey, buffer, static_cast<size_t>(received), text, fault);
  if (!datagram) {
    const bool decrypt = fault == DatagramFault::kDecrypt;
    // Sealed with another password, about one datagram in 256 still passes
    // the padding check and fails only as a message: both are told.
    TellOtherPassword(text);
    if (const auto more = peer_.repeatedLog->Admit(std::string(decrypt ? "decrypt " : "format ") + text)) {
      if (decrypt) {
        LOG(WARNING) << "Faild to decrypt discover message: src " << text << *more;
      } else {
        LOG(WARNING) << "bad data format on udp socket: src " << text << *more;
      }
    }
    return;
  }
  const IdleWorker worker = idle_.front();
  idle_.pop_front();
  backend.SendFrame(worker.identity, true);
  backend.SendFrame(nullptr, 0, true);
  backend.SendFrame("dummy", 5, true);
  backend.SendFrame(nullptr, 0, true);
  backend.SendMsg(qo::MC_DISCOVER, &*datagram);
}

void CRespRouter::HandleCommand(protocol::ZmqSocket& commands) {
  protocol::ZmqFrame head;
  protocol::ZmqFrame body;
  if (!commands.RecvFrames(head, &body, false, kFrameWaitMs)) return;
  qo::MsgHead parsed;
  if (!parsed.ParseFromArray(head.Data(), static_cast<int>(head.Size()))) return;
  switch (parsed.code()) {
    case qo::MC_DISCOVER: {
      qo::MsgDiscoverWin answer;
      if (!answer.ParseFromArray(body.Data(), static_cast<int>(body.Size()))) {
        LOG(ERROR) << "Bad format for MsgDiscoverWin";
        return;
      }
      SendDatagram(answer.discover(), answer.src_host());
      return;
    }
    case qo::MC_PUB_FILE_CHANGE:
      publisher_.SendFrame(head.Data(), head.Size(), head.More());
      if (head.More()) publisher_.SendFrame(body.Data(), body.Size(), false);
      return;
    case qo::MC_WIN_ISSUE_DISCOVER:
      IssueDiscover();
      return;
    case qo::MC_WIN_RECONFIG:
      Reconfigure();
      return;
    default:
      LOG(ERROR) << "Unsupported Msg Code: " << parsed.code();
  }
}

void CRespRouter::MoveFrontendWhenIdle() {
  // A request in a worker came through the old socket and its answer
  // leaves by it (the request that moved the port among them).
  if (!frontendMoving_ || idle_.size() != static_cast<size_t>(kWorkerCount)) return;
  frontendMoving_ = false;
  frontend_ = protocol::ZmqSocket();
  frontend_ = BindFrontend(ports_.route);
}

void CRespRouter::Reconfigure() {
  const Ports now = ReadPorts();
  if (now.broadcast != ports_.broadcast) {
    PublishExit();
    CloseUdp();
    device::ResetDevices(peer_.config.Snapshot()->deviceUuid);
    ports_.broadcast = now.broadcast;
    if (OpenUdp(ports_.broadcast)) IssueDiscover();
  }
  if (now.route != ports_.route) {
    ports_.route = now.route;
    frontendMoving_ = true;
    MoveFrontendWhenIdle();
  }
  if (now.publish != ports_.publish) {
    ports_.publish = now.publish;
    publisher_ = protocol::ZmqSocket(peer_.zmq, ZMQ_PUB);
    publisher_.Bind(TcpEndpoint(ports_.publish));
  }
}

uint32_t CRespRouter::Run() {
  ports_ = ReadPorts();
  if (!OpenUdp(ports_.broadcast)) {
    LOG(ERROR) << "Discovery port " << ports_.broadcast << " unavailable: no request will be served";
    return 0;
  }
  frontend_ = BindFrontend(ports_.route);
  protocol::ZmqSocket backend(peer_.zmq, ZMQ_ROUTER);
  backend.Bind(protocol::endpoints::kRouteResp);
  protocol::ZmqSocket commands(peer_.zmq, ZMQ_PULL);
  commands.Bind(protocol::endpoints::kCommand);
  publisher_ = protocol::ZmqSocket(peer_.zmq, ZMQ_PUB);
  publisher_.Bind(TcpEndpoint(ports_.publish));
  protocol::ZmqSocket exit = protocol::SubscribeExit(peer_.zmq);

  std::vector<std::unique_ptr<CRespWorker>> workers;
  for (int i = 0; i < kWorkerCount; ++i) workers.push_back(std::make_unique<CRespWorker>(peer_, "worker" + std::to_string(i)));
  for (auto& worker : workers) worker->Resume();

  config::ObserveConfig(this);
  IssueDiscover();

  for (;;) {
    int udpFd;
    {
      std::lock_guard lock(udpMutex_);
      udpFd = udp_.Get();
    }
    zmq_pollitem_t items[5] = {{exit.Handle(), 0, ZMQ_POLLIN, 0},
                               {commands.Handle(), 0, ZMQ_POLLIN, 0},
                               {backend.Handle(), 0, ZMQ_POLLIN, 0},
                               {frontend_.Handle(), 0, ZMQ_POLLIN, 0},
                               {nullptr, udpFd, ZMQ_POLLIN, 0}};
    // Requests and datagrams are read only while a worker is free; the rest
    // wait in their sockets.
    const int count = idle_.empty() ? 3 : (udpFd >= 0 ? 5 : 4);
    if (zmq_poll(items, count, -1) < 0) {
      if (zmq_errno() == EINTR) continue;
      LOG(ERROR) << "router poll failed: " << zmq_strerror(zmq_errno());
      break;
    }
    if ((items[0].revents & ZMQ_POLLIN) != 0) {
      PublishExit();
      break;
    }
    if ((items[1].revents & ZMQ_POLLIN) != 0) HandleCommand(commands);
    if ((items[2].revents & ZMQ_POLLIN) != 0) {
      HandleWorker(backend, frontend_);
      MoveFrontendWhenIdle();
    }
    if (count > 3 && (items[3].revents & ZMQ_POLLIN) != 0 && !idle_.empty()) HandleRequest(backend);
    if (count > 4 && (items[4].revents & ZMQ_POLLIN) != 0 && !idle_.empty()) HandleDatagram(backend);
  }

  config::StopObservingConfig(this);
  idle_.clear();
  workers.clear();  // each ends on the exit notice
  CloseUdp();
  frontend_.Close();
  publisher_.Close();
  return 0;
}

}  // namespace morvex::peer
