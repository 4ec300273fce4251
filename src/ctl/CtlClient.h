#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Morvex.pb.h"
#include "config/ConfigKeys.h"
#include "core/Status.h"
#include "core/Text.h"
#include "protocol/ZmqSocket.h"

namespace morvex::ctl {

// Exit statuses of the command-line client, one per kind of failure so
// that scripts can tell them apart: refused (the service or the peer
// answered with an error), usage, the local service did not answer,
// timeout (work still pending), the peer did not answer, items failed.
enum ExitStatus : int {
  kExitOk = 0,
  kExitServiceError = 1,
  kExitUsage = 2,
  kExitNoAnswer = 3,
  kExitTimeout = 4,
  kExitPeerUnreachable = 5,
  kExitItemsFailed = 6,  // a pass ended with items it could not apply
};

// This device as its database describes it: what the client needs to talk
// to its own service the way the desktop interface does.
struct LocalIdentity {
  std::string uuid;
  std::string name;
  uint16_t routePort = config::kDefaultRoutePort;
  uint16_t pubPort = config::kDefaultPubPort;
  uint16_t broadcastPort = config::kDefaultBroadcastPort;
  std::string privateKey;  // DER
  std::string publicKey;   // DER
};

// The database belongs to the service: the client opens
// "<metadir>/Morvex/Morvex.db" read-only, once per metadir, and reads it
// through the same modules as the service does (config, device, the
// relations, the index). False with the message to print in `error`.
bool OpenLocalDatabase(const std::string& metadir, std::string& error);
// The message for a read of the open database that failed.
std::string LocalDatabaseUnreadable(const std::string& metadir);

// Reads the identity from the database without writing to it; `error` says
// why it could not.
std::optional<LocalIdentity> ReadLocalIdentity(const std::string& metadir, std::string& error);

// Another device as the Device table records it: where to reach it and
// the key its requests are encrypted for.
struct PeerDevice {
  std::string uuid;
  std::string name;
  std::string routeUri;
  std::string publicKey;  // DER
  bool online = false;
};
std::optional<PeerDevice> ReadPeerDevice(const std::string& metadir, const std::string& uuid, std::string& error);

// The outcome of one request: kExitOk with the answer, or the exit status
// and the message to print. `error` is the ErrorCode the other side
// answered with (MC_ERROR), 0 for any other failure.
struct CtlAnswer {
  int status = kExitOk;
  std::string message;
  int error = 0;
  int code = 0;
  std::string body;
};

// Requests signed with this device's key over a fresh PeerChannel each: to
// the local service over its route port, encrypted for itself as the
// desktop interface does, or to a peer's route address, encrypted for
// that peer. Refusals carry the ErrorSentences text of their code.
//
// The local service answers ZE_OPERATE_TIMEOUT only when a peer it passed
// the request on to did not answer (the trust handshake): Request turns
// that into kExitPeerUnreachable, so that a peer that is down never reads
// as this device's own service being down (kExitNoAnswer).
class CtlClient {
 public:
  static constexpr int kAnswerWaitMs = 5000;
  // Requests the service passes on to a peer: it waits up to 5 s for the
  // peer, so its own answer comes after that.
  static constexpr int kRelayWaitMs = kAnswerWaitMs + 5000;
  static constexpr int kPeerListWaitMs = 1000;     // listings and tree add
  static constexpr int kPeerSyncAddWaitMs = 5000;  // the peer records a relation
  static constexpr const char* kPeerOffline =
      core::TrNoop("the other device is offline or has gone offline");

  explicit CtlClient(LocalIdentity identity);
  ~CtlClient();

  CtlAnswer Request(int code, const google::protobuf::MessageLite* body, int waitMs = kAnswerWaitMs);
  // No answer within `waitMs` is kExitPeerUnreachable with kPeerOffline (translated); an
  // answer that fails the envelope checks is kExitServiceError.
  CtlAnswer RequestPeer(const PeerDevice& peer, int code, const google::protobuf::MessageLite* body, int waitMs);
  const LocalIdentity& Identity() const { return identity_; }

 private:
  // Ok with the answer (an MC_ERROR turned into status, error and message);
  // Unavailable when nothing was sent or the socket failed, Timeout when no
  // answer came, Rejected (its text saying why) when one failed the checks.
  core::Status Exchange(const std::string& endpoint, const std::string& peerUuid, const std::string& peerKey, int code,
               const google::protobuf::MessageLite* body, int waitMs, CtlAnswer& answer);

  LocalIdentity identity_;
  protocol::ZmqContext zmq_;
};

}  // namespace morvex::ctl
