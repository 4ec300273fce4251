#include <glog/logging.h>

#include "core/BroadcastService.h"
#include "device/Device.h"
#include "peer/DiscoveryDatagram.h"
#include "peer/RequestHandlers.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"

namespace morvex::peer {
namespace {

// A datagram that names a trusted device but carries another key: someone
// may be posing as that device. Said once a minute per device and address,
// to the log and to the interfaces.
void ReportKeyMismatch(Request& request, const device::CDevice& device, const std::string& address) {
  const auto more = request.peer.repeatedLog->Admit("key " + device.uuid + " " + address);
  if (!more) return;
  LOG(WARNING) << "Dropped discovery datagram: trusted device '" << device.name << "' (" << device.uuid
               << ") presented another key from " << address << *more;
  core::CBroadcastService::Instance().Broadcast(core::BM_TRUSTED_KEY_MISMATCH,
                                                core::DeviceKeyEvent{device.uuid, device.name, address});
}

}  // namespace

// Reaches a worker only from the router's UDP path: the router refuses the
// code on the route port, so src_host is the datagram's real source.
int HandleDiscover(Request& request) {
  const auto ready = [&] { return request.socket.SendMsg(qo::MC_WIN_WORKER_READY), 0; };
  qo::MsgDiscoverWin datagram;
  if (!request.Parse(datagram)) {
    LOG(ERROR) << "Bad format for MsgDiscoverRequest";
    return ready();
  }
  const qo::MsgDiscover& inner = datagram.discover();
  if (inner.device_uuid() == request.config->deviceUuid) return ready();  // our own broadcast
  core::RepeatedLog& repeated = *request.peer.repeatedLog;
  std::string why;
  if (!PlausibleDatagram(datagram, why)) {
    if (const auto more = repeated.Admit(why + " " + datagram.src_host())) {
      LOG(WARNING) << "Dropped discovery datagram from " << datagram.src_host() << ": " << why << *more;
    }
    return ready();
  }

  device::CDevice device;
  if (device.LoadByUuid(inner.device_uuid())) {
    if (device.trust != 0 && !device.HasKey(inner.public_key())) {
      ReportKeyMismatch(request, device, datagram.src_host());
      return ready();
    }
    const bool trustedComesOnline = device.trust != 0 && device.online == 0;
    if (device.MergeDiscover(datagram)) device.Save();
    device.ResetTtl();
    if (trustedComesOnline) {
      // Ask it at once which relations it still keeps with us.
      qo::MsgWinStatus status;
      status.set_device_id(device.id);
      protocol::PushOnce(request.peer.zmq, protocol::endpoints::kStatus, qo::MC_WIN_STATUS, &status);
    }
  } else {
    device::CDevice::FromDiscover(datagram).Insert();
  }

  const std::string who = inner.device_name() + " tcp://" + datagram.src_host() + ":" + std::to_string(inner.route_port());
  // A device announces itself and answers us once a minute each: more lines
  // from one address are a flood of made-up devices.
  const bool reply = inner.is_response() == qo::PB_TRUE;
  const auto more = repeated.Admit((reply ? "discovery reply " : "discovery request ") + datagram.src_host());
  if (reply) {
    if (more) LOG(INFO) << "[Discover  ] " << "discovery reply from: " << who << *more;
    return ready();
  }
  if (more) LOG(INFO) << "[Discover  ] " << "discovery request from: " << who << *more;
  qo::MsgDiscover& answer = *datagram.mutable_discover();
  answer.set_is_response(qo::PB_TRUE);
  answer.set_device_uuid(request.config->deviceUuid);
  answer.set_device_name(request.config->deviceName);
  answer.set_device_type(qo::DEVICE_LINUX);
  answer.set_route_port(request.config->routePort);
  answer.set_pub_port(request.config->pubPort);
  answer.set_public_key(request.config->publicKey);
  protocol::PushOnce(request.peer.zmq, protocol::endpoints::kCommand, qo::MC_DISCOVER, &datagram);
  return ready();
}

}  // namespace morvex::peer
