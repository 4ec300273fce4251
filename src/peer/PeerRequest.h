#pragma once

#include <string>

#include "core/Status.h"
#include "protocol/KeyStore.h"
#include "protocol/ZmqSocket.h"

namespace google::protobuf {
class MessageLite;
}

namespace morvex::peer {

// The outcome of one request to a device. `status` is ok when an answer
// passed the envelope checks; Rejected when one came but failed them;
// Timeout when none came in time; Unavailable when the request never went
// out, or when no answer was awaited or the socket failed while waiting.
struct PeerAnswer {
  core::Status status = core::Status::Unavailable("not sent");
  int code = 0;      // the answer's code
  std::string body;  // the answer's plain body

  bool answered() const { return status.ok(); }
  // An answer came, whether or not it passed.
  bool arrived() const { return status.ok() || status.code() == core::Status::Code::kRejected; }
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
