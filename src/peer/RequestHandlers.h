#pragma once

#include <memory>
#include <string>

#include "config/KelmConfig.h"
#include "peer/PeerContext.h"
#include "protocol/ProtectedMsg.h"

namespace morvex::peer {

// One request being served by a worker: the checked message, the sender for
// protected answers, and the bare socket for plain answers (error replies,
// worker-ready, test trust).
struct Request {
  PeerContext& peer;
  protocol::CInMsg& message;
  protocol::CMsgSender& answer;
  protocol::ZmqSocket& socket;
  std::shared_ptr<const config::ConfigValues> config;

  const std::string& SenderUuid() const { return message.Head().uuid(); }
  // Signed with this device's own key: the envelope checked a signed
  // request against the key of the UUID it names (or, for the codes only
  // this device may send, against the own key whatever it names).
  bool FromOwnDevice() const {
    return message.Level() != qo::EL_NONE &&
           (protocol::CInMsg::OwnDeviceCode(message.Code()) || SenderUuid() == config->deviceUuid);
  }
  // Signed at all: by this device or a trusted one (or, for a handshake
  // code, a known one).
  bool Signed() const { return message.Level() != qo::EL_NONE; }
  // Parses the body; false (answer ZE_BAD_FORMAT) when it does not parse or
  // breaks a bound of protocol/MessageLimits.h.
  bool Parse(google::protobuf::Message& body) const { return message.ParseBody(body); }
};

// A handler answers the request itself and returns 0, or returns the
// ErrorCode the worker answers with.
using Handler = int (*)(Request&);

// The dispatch table; null for a code no handler serves.
Handler FindHandler(int code);

int HandleDiscover(Request& request);
int HandleFind(Request& request);
int HandleStatus(Request& request);
int HandleTrustPublish(Request& request);
int HandleTrust(Request& request);
int HandleTrustDeny(Request& request);
int HandleTrustCancel(Request& request);
int HandleDistrust(Request& request);
int HandleTestTrust(Request& request);
int HandleLinuxTrustPublish(Request& request);
int HandleLinuxTrust(Request& request);
int HandleLinuxTrustCancel(Request& request);
int HandleDeviceShow(Request& request);
int HandleDeviceAdd(Request& request);
int HandleDeviceDelete(Request& request);
int HandleTreeAdd(Request& request);
int HandleTreeDelete(Request& request);
int HandleTreeShow(Request& request);
int HandleSyncAdd(Request& request);
int HandleSyncDelete(Request& request);
int HandleSyncShow(Request& request);
int HandleSyncOnce(Request& request);
int HandleWinSyncDelete(Request& request);
int HandleLinuxStatus(Request& request);
int HandleLinuxConfigSet(Request& request);
int HandleRefresh(Request& request);
int HandleDatabaseClear(Request& request);

}  // namespace morvex::peer
