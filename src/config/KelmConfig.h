#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "config/ConfigKeys.h"
#include "protocol/ZmqSocket.h"
#include "store/ContentObserver.h"

namespace morvex::config {

inline constexpr int32_t kDefaultSyncInterval = 600;

// The device's configuration, one consistent set of values. Keys are DER in
// memory (PEM in the Config table); tokenKey is derived from token.
struct ConfigValues {
  std::string deviceName;
  std::string deviceUuid;
  uint16_t routePort = kDefaultRoutePort;
  uint16_t pubPort = kDefaultPubPort;
  uint16_t broadcastPort = kDefaultBroadcastPort;
  std::string token;     // the sync password, UTF-8
  std::string tokenKey;  // 16 bytes, or empty when it cannot be derived
  std::string publicKey;
  std::string privateKey;
  int32_t syncInterval = kDefaultSyncInterval;
  std::string feedBack;
  int32_t firstTime = 0;

  std::string RouteUri() const;  // "tcp://localhost:<routePort>"
  std::string PubUri() const;
};

// Holds the configuration and keeps it in step with the Config table. The
// application's instance observes Config and reloads on every committed
// change; temporary instances serve as value holders (the command-line
// options, the working copy of the identity set-up).
//
// Threads: readers on any thread take Snapshot(), an immutable set of
// values swapped in whole under mutex_, so a reader never sees half of a
// reload. Writers (setters, Load, the reload) run on one thread at a time.
class CKelmConfigManager : public store::CContentObserver {
 public:
  CKelmConfigManager();
  CKelmConfigManager(const CKelmConfigManager&) = delete;
  CKelmConfigManager& operator=(const CKelmConfigManager&) = delete;

  std::shared_ptr<const ConfigValues> Snapshot() const;

  // Reads every key (missing ones take their defaults, FeedBack "first").
  void Load();
  // Writes all eleven keys in one batch; true when a row changed.
  bool Save();

  void SetDeviceName(std::string name);
  void SetDeviceUuid(std::string uuid);
  void SetRoutePort(uint16_t port);
  void SetPubPort(uint16_t port);
  void SetBroadcastPort(uint16_t port);
  void SetToken(std::string token);
  void SetKeys(std::string publicDer, std::string privateDer);
  void SetSyncInterval(int32_t seconds);
  void SetFeedBack(std::string state);
  void SetFirstTime(int32_t seconds);

  void CopyAll(const CKelmConfigManager& other);
  // Takes the values of `other` that differ from the defaults.
  void Merge(const CKelmConfigManager& other);

  // Where the reload announces a new sync password (MC_WIN_ISSUE_DISCOVER
  // to the router); without a context the announcement is skipped.
  void SetMessageContext(protocol::ZmqContext* context) { context_ = context; }

  std::unique_ptr<store::CSQLiteCursor> Query() override;
  void OnChange(std::unique_ptr<store::CSQLiteCursor> cursor) override;

 private:
  template <typename Change>
  void Update(Change change);

  mutable std::mutex mutex_;
  std::shared_ptr<const ConfigValues> current_;  // guarded by mutex_
  protocol::ZmqContext* context_ = nullptr;
};

}  // namespace morvex::config
