// The discovery datagram as anyone on the network can send it to the UDP
// port: the fuzzer's bytes are one received datagram, decoded with the key
// of a fixed sync password and checked as the discovery handler checks it.
//
// Properties: what decodes carries the sender's address as its source; a
// datagram taken as plausible has a valid UUID, both ports in 1..65535 and
// a key that converts, and makes a device row whose addresses are that
// source and those ports.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "device/Device.h"
#include "peer/DiscoveryDatagram.h"
#include "peer/RespRouter.h"
#include "protocol/Identity.h"
#include "protocol/SslUtils.h"

namespace morvex::fuzz {

// The password the seeds were encrypted with (MakeSeeds.cpp).
inline constexpr const char* kDiscoveryPassword = "fuzz-password";
inline constexpr const char* kSource = "192.0.2.7";

}  // namespace morvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvex;
  static const std::string tokenKey = [] {
    fuzz::QuietLogs();
    return protocol::ssl::DeriveTokenKey(fuzz::kDiscoveryPassword);
  }();
  // The router reads into a buffer of this size and drops longer datagrams.
  if (size > peer::CRespRouter::kDatagramSize) return 0;
  peer::DatagramFault fault{};
  const auto datagram = peer::DecodeDatagram(tokenKey, data, size, fuzz::kSource, fault);
  if (!datagram) return 0;
  FUZZ_CHECK(datagram->src_host() == fuzz::kSource);
  std::string why;
  if (!peer::PlausibleDatagram(*datagram, why)) {
    FUZZ_CHECK(!why.empty());
    return 0;
  }
  const qo::MsgDiscover& inner = datagram->discover();
  FUZZ_CHECK(protocol::IsValidUuid(inner.device_uuid()));
  FUZZ_CHECK(inner.route_port() >= 1 && inner.route_port() <= 65535);
  FUZZ_CHECK(inner.pub_port() >= 1 && inner.pub_port() <= 65535);
  const device::CDevice device = device::CDevice::FromDiscover(*datagram);
  FUZZ_CHECK(device.uuid == inner.device_uuid());
  FUZZ_CHECK(device.routeUri == std::string("tcp://") + fuzz::kSource + ":" + std::to_string(inner.route_port()));
  FUZZ_CHECK(device.pubUri == std::string("tcp://") + fuzz::kSource + ":" + std::to_string(inner.pub_port()));
  FUZZ_CHECK(!device.pubkey.empty());
  FUZZ_CHECK(device.trust == 0);
  return 0;
}
