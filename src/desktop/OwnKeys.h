// The keys of a conversation with this device's own service.
#pragma once

#include <string>
#include <utility>

#include "protocol/KeyStore.h"

namespace morvex::desktop {

// The only answers the windows' own requests get are the own service's,
// signed with the own key: no other device's key is known here.
class OwnKeys final : public protocol::IKeyManager {
 public:
  OwnKeys(std::string uuid, std::string privateKey, std::string publicKey)
      : uuid_(std::move(uuid)), privateKey_(std::move(privateKey)), publicKey_(std::move(publicKey)) {}
  std::string GetPrivateKey() override { return privateKey_; }
  std::string GetPublicKey(const std::string& uuid, bool) override {
    return uuid == uuid_ ? publicKey_ : std::string();
  }

 private:
  std::string uuid_;
  std::string privateKey_;
  std::string publicKey_;
};

}  // namespace morvex::desktop
