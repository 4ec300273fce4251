// The requests of the link wizard and the new-sync-folder dialog, behind an
// interface so that their logic can be driven without a network.
#pragma once

#include <string>

#include "desktop/DesktopContext.h"
#include "protocol/PeerChannel.h"

namespace google::protobuf {
class MessageLite;
}

namespace morvex::desktop {

// Where a request goes: a peer, or this device's own service.
struct LinkTarget {
  std::string uuid;
  std::string routeUri;
};

class ILinkRequests {
 public:
  virtual ~ILinkRequests() = default;
  // Sends `code` with `body` (may be null) to `target` and waits up to
  // `waitMs` for the answer.
  virtual protocol::PeerReply Ask(const LinkTarget& target, int code, const google::protobuf::MessageLite* body,
                                  int waitMs) = 0;
  // This device's own service.
  virtual LinkTarget Own() const = 0;
};

// The real requests: signed with this device's key, encrypted for the
// target's key (the own service's key for the own service), one channel per
// request so that a peer that stopped answering leaves nothing behind.
class PeerLinkRequests final : public ILinkRequests {
 public:
  explicit PeerLinkRequests(const DesktopContext& context) : context_(context) {}
  protocol::PeerReply Ask(const LinkTarget& target, int code, const google::protobuf::MessageLite* body,
                          int waitMs) override;
  LinkTarget Own() const override;

 private:
  const DesktopContext& context_;
};

}  // namespace morvex::desktop
