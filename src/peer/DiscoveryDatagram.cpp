#include "peer/DiscoveryDatagram.h"

#include "protocol/Identity.h"
#include "protocol/SslUtils.h"

namespace morvex::peer {

std::optional<qo::MsgDiscoverWin> DecodeDatagram(const std::string& tokenKey, const void* data, size_t size,
                                                 const std::string& sourceAddress, DatagramFault& fault) {
  std::string plain;
  if (!protocol::ssl::AesCipher(tokenKey).Decrypt(std::string(static_cast<const char*>(data), size), plain)) {
    fault = DatagramFault::kDecrypt;
    return std::nullopt;
  }
  qo::MsgDiscoverWin datagram;
  datagram.set_src_host(sourceAddress);
  if (!datagram.mutable_discover()->ParseFromString(plain)) {
    fault = DatagramFault::kFormat;
    return std::nullopt;
  }
  return datagram;
}

bool PlausibleDatagram(const qo::MsgDiscoverWin& datagram, std::string& why) {
  const qo::MsgDiscover& d = datagram.discover();
  if (!protocol::IsValidUuid(d.device_uuid())) {
    why = "bad uuid";
  } else if (d.route_port() < 1 || d.route_port() > 65535 || d.pub_port() < 1 || d.pub_port() > 65535) {
    why = "bad port";
  } else if (protocol::ssl::DerToPemPublic(d.public_key()).empty()) {
    why = "bad public key";
  } else {
    return true;
  }
  return false;
}

}  // namespace morvex::peer
