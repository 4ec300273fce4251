#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/KelmConfig.h"
#include "core/RepeatedLog.h"
#include "protocol/KeyStore.h"
#include "protocol/ZmqSocket.h"

namespace morvex::peer {

class TrustBook;

// What the peer services share, all owned by the application object and
// alive for as long as any worker runs. Every member is safe to use from any
// thread (the configuration through snapshots, the key store and the trust
// book by their own locks, the ZeroMQ context by design).
struct PeerContext {
  protocol::ZmqContext& zmq;
  config::CKelmConfigManager& config;
  protocol::IKeyManager& keys;
  TrustBook& trust;
  // Where discovery broadcasts go; tests inject loopback or nothing.
  std::function<std::optional<std::vector<std::string>>()> broadcastAddresses;
  // The service's own folder ("<metadir>/Morvex"): never a tree.
  std::string appDir;
  // Told of trees added and deleted (the file manager's bookmarks).
  std::function<void(const std::string& root)> onTreeAdded;
  std::function<void(const std::string& root)> onTreeDeleted;
  // Lines that strangers can make us repeat go through it.
  std::shared_ptr<core::RepeatedLog> repeatedLog = std::make_shared<core::RepeatedLog>();
};

}  // namespace morvex::peer
