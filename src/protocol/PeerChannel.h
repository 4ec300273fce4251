#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/Status.h"
#include "protocol/KeyStore.h"
#include "protocol/ProtectedMsg.h"
#include "protocol/ZmqSocket.h"

namespace google::protobuf {
class MessageLite;
}

namespace morvex::protocol {

// The own identity a conversation is held as.
struct OwnIdentity {
  std::string uuid;
  std::string privateKey;  // DER
};

// How the channel's REQ socket behaves; the defaults are those of the
// service's own requests to peers.
struct ChannelOptions {
  int sendTimeoutMs = 5000;        // a send that cannot complete gives up
  std::optional<int> lingerMs;     // unset: ZmqSocket's default linger
  bool logWarnings = true;         // the command-line client keeps its log quiet
};

// The outcome of one Ask. `status` is ok when an answer passed the envelope
// checks; Rejected when one came but failed them; Timeout when none came in
// time; Unavailable when the request never went out, or when no answer was
// awaited or the socket failed while waiting.
struct PeerReply {
  core::Status status = core::Status::Unavailable("not sent");
  int code = 0;      // the answer's code
  std::string body;  // the answer's plain body
  // Why no answer was read (a qo::ErrorCode), 0 when one was or none was awaited.
  int receiveError = 0;
  // With an MC_ERROR answer: the ErrorCode the peer answered with; unset
  // when its body did not parse or the answer was not MC_ERROR.
  std::optional<int> peerError;

  bool answered() const { return status.ok(); }
  // An answer came, whether or not it passed.
  bool arrived() const { return status.ok() || status.code() == core::Status::Code::kRejected; }
  // An answer came and it was MC_ERROR.
  bool refused() const;
};

// One conversation with one peer: requests signed with the own key and
// encrypted for the peer's key, answers checked with `keys`. The route and
// the key are fixed when the channel is made, so whoever holds it asks
// again without looking them up again.
//
// Asks share one REQ socket, connected on the first Ask. A REQ socket that
// sent and got no answer cannot send again, so any Ask that does not end
// with an answer read drops the socket and the next Ask connects anew.
//
// Threads: a channel and the sockets it makes belong to the thread that
// uses them; only the ZeroMQ context and the key manager are shared.
class PeerChannel {
 public:
  PeerChannel(ZmqContext& zmq, std::string routeUri, OwnIdentity own, std::string peerPublicKey, IKeyManager& keys,
              ChannelOptions options = {});
  PeerChannel(PeerChannel&&) noexcept = default;
  PeerChannel(const PeerChannel&) = delete;
  PeerChannel& operator=(const PeerChannel&) = delete;

  // Without a route nothing can be sent: a REQ socket without a connection
  // would never complete its send.
  bool HasRoute() const { return !routeUri_.empty(); }

  // Sends `code` with `body` and, with waitMs > 0, waits that long for the
  // answer. An MC_ERROR answer is decoded into peerError here.
  PeerReply Ask(int code, const google::protobuf::MessageLite* body, int waitMs);

  // A DEALER connected to the peer's route for pipelined requests, frames
  // larger than `maxMessageBytes` refused; its sender comes from SenderOn.
  ZmqSocket ConnectDealer(int64_t maxMessageBytes);
  // A sender on `socket` for this conversation's identity and peer key.
  CMsgSender SenderOn(ZmqSocket& socket) const { return CMsgSender(socket, own_.uuid, own_.privateKey, peerPublicKey_); }

  ZmqContext& Context() const { return zmq_; }
  IKeyManager& Keys() const { return keys_; }

 private:
  // The REQ socket, connected; false (and no socket) when that failed.
  bool EnsureSocket();

  // Constant after construction.
  ZmqContext& zmq_;
  std::string routeUri_;
  OwnIdentity own_;
  std::string peerPublicKey_;
  IKeyManager& keys_;
  ChannelOptions options_;

  ZmqSocket socket_;  // invalid until the first Ask and after a failed one
};

}  // namespace morvex::protocol
