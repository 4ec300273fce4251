#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

#include "protocol/KeyStore.h"
#include "store/ContentObserver.h"

namespace morvex::device {

// The device's key store: its own private key and the public keys of the
// trusted devices, rebuilt on every change of Device.
//
// Threads: shared by every thread that receives protected messages. mutex_
// guards the map and both lookups (including the query of an untrusted
// lookup); the private key is fixed after construction and read without it.
// The rebuild runs on whichever thread changed Device.
class CKeyManager final : public protocol::IKeyManager, public store::CContentObserver {
 public:
  explicit CKeyManager(std::string privateKeyDer);
  ~CKeyManager() override;

  std::string GetPrivateKey() override { return privateKey_; }
  std::string GetPublicKey(const std::string& deviceUuid, bool trustedOnly) override;

  std::unique_ptr<store::CSQLiteCursor> Query() override;
  void OnChange(std::unique_ptr<store::CSQLiteCursor> cursor) override;

 private:
  void Rebuild(store::CSQLiteCursor* cursor);

  const std::string privateKey_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::string> trusted_;  // uuid -> DER; guarded by mutex_
};

}  // namespace morvex::device
