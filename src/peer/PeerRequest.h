#pragma once

#include <string>

#include "protocol/KeyStore.h"
#include "protocol/ZmqSocket.h"

namespace google::protobuf {
class MessageLite;
}

namespace morvex::peer {

// The outcome of one request to a device.
struct PeerAnswer {
  bool sent = false;      // the request went out
  bool answered = false;  // an answer passed the envelope checks
  bool arrived = false;   // an answer came, whether or not it passed
  int error = 0;          // the receive error when not answered
  int code = 0;           // the answer's code
  std::string body;       // the answer's plain body
};

// The own identity a request is made with.
struct Sender {
  std::string uuid;
  std::string privateKey;  // DER
};

// One protected request over a fresh REQ socket to `routeUri`, signed with
// the own key and encrypted for `peerPublicKey`. With waitMs > 0 the answer
// is awaited that long and checked with `keys`. A device without a route
// URI is skipped with a WARNING: a REQ socket without a connection would
// never complete its send. Sends are bounded as well.
PeerAnswer RequestPeer(protocol::ZmqContext& zmq, const std::string& routeUri, const Sender& sender,
                       const std::string& peerPublicKey, protocol::IKeyManager& keys, int code,
                       const google::protobuf::MessageLite* body, int waitMs);

}  // namespace morvex::peer
