#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Morvex.pb.h"
#include "protocol/KeyStore.h"
#include "protocol/ZmqSocket.h"

namespace morvex::ctl {

// Exit statuses of the command-line client.
enum ExitStatus : int { kExitOk = 0, kExitServiceError = 1, kExitUsage = 2, kExitNoAnswer = 3 };

// This device as its database describes it: what the client needs to talk
// to its own service the way the desktop interface does.
struct LocalIdentity {
  std::string uuid;
  std::string name;
  uint16_t routePort = 9527;
  uint16_t pubPort = 9526;
  uint16_t broadcastPort = 8848;
  std::string privateKey;  // DER
  std::string publicKey;   // DER
};

// Reads the identity from "<metadir>/Morvex/Morvex.db" without writing to
// it; `error` says why it could not.
std::optional<LocalIdentity> ReadLocalIdentity(const std::string& metadir, std::string& error);

// The outcome of one request: kExitOk with the answer, or the exit status
// and the message to print.
struct CtlAnswer {
  int status = kExitOk;
  std::string message;
  int code = 0;
  std::string body;
};

// Requests to the local service over its route port, signed with this
// device's own key and encrypted for itself, as the desktop interface does.
class CtlClient {
 public:
  static constexpr int kAnswerWaitMs = 5000;

  explicit CtlClient(LocalIdentity identity);
  ~CtlClient();

  CtlAnswer Request(int code, const google::protobuf::MessageLite* body);
  const LocalIdentity& Identity() const { return identity_; }

 private:
  LocalIdentity identity_;
  protocol::ZmqContext zmq_;
  std::unique_ptr<protocol::IKeyManager> keys_;
};

}  // namespace morvex::ctl
