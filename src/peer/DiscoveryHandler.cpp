#include <glog/logging.h>

#include "peer/DiscoveryDatagram.h"
#include "peer/RequestHandlers.h"
#include "protocol/Device.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"

namespace morvex::peer {

int HandleDiscover(Request& request) {
  const auto ready = [&] { return request.socket.SendMsg(qo::MC_WIN_WORKER_READY), 0; };
  qo::MsgDiscoverWin datagram;
  if (!request.Parse(datagram)) {
    LOG(ERROR) << "Bad format for MsgDiscoverRequest";
    return ready();
  }
  const qo::MsgDiscover& inner = datagram.discover();
  if (inner.device_uuid() == request.config->deviceUuid) return ready();  // our own broadcast
  std::string why;
  if (!PlausibleDatagram(datagram, why)) {
    LOG(WARNING) << "Dropped discovery datagram from " << datagram.src_host() << ": " << why;
    return ready();
  }

  protocol::CDevice device;
  if (device.LoadByUuid(inner.device_uuid())) {
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
    protocol::CDevice::FromDiscover(datagram).Insert();
  }

  const std::string who = inner.device_name() + " tcp://" + datagram.src_host() + ":" + std::to_string(inner.route_port());
  if (inner.is_response() == qo::PB_TRUE) {
    LOG(INFO) << "[Discover  ] " << "discovery reply from: " << who;
    return ready();
  }
  LOG(INFO) << "[Discover  ] " << "discovery request from: " << who;
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
