#include "peer/DeviceChannel.h"

#include "device/DeviceQueries.h"

namespace morvex::peer {
namespace {

protocol::PeerChannel Open(PeerContext& peer, std::string routeUri, const std::string& deviceUuid, PeerKey key) {
  const auto config = peer.config.Snapshot();
  return protocol::PeerChannel(peer.zmq, std::move(routeUri), {config->deviceUuid, config->privateKey},
                               peer.keys.GetPublicKey(deviceUuid, key == PeerKey::kTrusted), peer.keys);
}

}  // namespace

protocol::PeerChannel OpenDeviceChannel(PeerContext& peer, const std::string& deviceUuid, PeerKey key) {
  return Open(peer, device::RouteUri(deviceUuid), deviceUuid, key);
}

protocol::PeerChannel OpenDeviceChannel(PeerContext& peer, const device::CDevice& device, PeerKey key) {
  return Open(peer, device.routeUri, device.uuid, key);
}

}  // namespace morvex::peer
