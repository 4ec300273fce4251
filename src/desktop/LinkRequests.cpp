#include "desktop/LinkRequests.h"

namespace morvex::desktop {

protocol::PeerReply PeerLinkRequests::Ask(const LinkTarget& target, int code,
                                          const google::protobuf::MessageLite* body, int waitMs) {
  const std::shared_ptr<const config::ConfigValues> own = context_.config.Snapshot();
  const std::string key =
      target.uuid == own->deviceUuid ? own->publicKey : context_.keys.GetPublicKey(target.uuid, false);
  protocol::ChannelOptions options;
  options.sendTimeoutMs = waitMs;
  options.lingerMs = 0;  // an unanswered request must not hold the window or the exit
  protocol::PeerChannel channel(context_.zmq, target.routeUri, {own->deviceUuid, own->privateKey}, key,
                                context_.keys, options);
  if (!channel.HasRoute()) return {};
  return channel.Ask(code, body, waitMs);
}

LinkTarget PeerLinkRequests::Own() const {
  const std::shared_ptr<const config::ConfigValues> own = context_.config.Snapshot();
  return {own->deviceUuid, own->RouteUri()};
}

}  // namespace morvex::desktop
