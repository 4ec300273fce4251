#include "config/KelmConfig.h"

#include <glog/logging.h>

#include <array>

#include "Morvex.pb.h"
#include "core/StringPrintf.h"
#include "device/Device.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/SslUtils.h"
#include "protocol/WorkerChannel.h"
#include "store/ContentResolver.h"

namespace morvex::config {

using store::CContentResolver;
using store::CSelection;
namespace uris = store::uris;

std::string ConfigValues::RouteUri() const { return core::StringPrintf("tcp://localhost:%u", routePort); }
std::string ConfigValues::PubUri() const { return core::StringPrintf("tcp://localhost:%u", pubPort); }

namespace {

enum class Key {
  kDeviceName,
  kDeviceUuid,
  kRoutePort,
  kPubPort,
  kBroadcastPort,
  kSyncInterval,
  kFeedBack,
  kFirstTime,
  kToken,
  kPublicKey,
  kPrivateKey,
};

struct KeySpec {
  Key key;
  const char* name;
  bool integer;
};

// In the order Save writes them.
constexpr std::array<KeySpec, 11> kKeys = {{
    {Key::kDeviceName, keys::kDeviceName, false},
    {Key::kDeviceUuid, keys::kDeviceUuid, false},
    {Key::kRoutePort, keys::kRoutePort, true},
    {Key::kPubPort, keys::kPubPort, true},
    {Key::kBroadcastPort, keys::kBroadcastPort, true},
    {Key::kSyncInterval, keys::kSyncInterval, true},
    {Key::kFeedBack, keys::kFeedBack, false},
    {Key::kFirstTime, keys::kFirstTime, true},
    {Key::kToken, keys::kToken, false},
    {Key::kPublicKey, keys::kPublicKey, false},
    {Key::kPrivateKey, keys::kPrivateKey, false},
}};

// Stores one raw value into the set; keys arrive as PEM.
void Assign(ConfigValues& values, Key key, const std::string& text, int64_t number) {
  switch (key) {
    case Key::kDeviceName: values.deviceName = text; break;
    case Key::kDeviceUuid: values.deviceUuid = text; break;
    case Key::kRoutePort: values.routePort = static_cast<uint16_t>(number); break;
    case Key::kPubPort: values.pubPort = static_cast<uint16_t>(number); break;
    case Key::kBroadcastPort: values.broadcastPort = static_cast<uint16_t>(number); break;
    case Key::kSyncInterval: values.syncInterval = static_cast<int32_t>(number); break;
    case Key::kFeedBack: values.feedBack = text; break;
    case Key::kFirstTime: values.firstTime = static_cast<int32_t>(number); break;
    case Key::kToken: values.token = text; break;
    case Key::kPublicKey: values.publicKey = protocol::ssl::PemToDerPublic(text); break;
    case Key::kPrivateKey: values.privateKey = protocol::ssl::PemToDerPrivate(text); break;
  }
}

void Derive(ConfigValues& values) { values.tokenKey = protocol::ssl::DeriveTokenKey(values.token); }

}  // namespace

CKelmConfigManager::CKelmConfigManager() {
  auto values = std::make_shared<ConfigValues>();
  Derive(*values);
  current_ = std::move(values);
}

std::shared_ptr<const ConfigValues> CKelmConfigManager::Snapshot() const {
  std::lock_guard lock(mutex_);
  return current_;
}

template <typename Change>
void CKelmConfigManager::Update(Change change) {
  std::lock_guard lock(mutex_);
  auto next = std::make_shared<ConfigValues>(*current_);
  change(*next);
  current_ = std::move(next);
}

void CKelmConfigManager::SetDeviceName(std::string name) { Update([&](ConfigValues& v) { v.deviceName = std::move(name); }); }
void CKelmConfigManager::SetDeviceUuid(std::string uuid) { Update([&](ConfigValues& v) { v.deviceUuid = std::move(uuid); }); }
void CKelmConfigManager::SetRoutePort(uint16_t port) { Update([&](ConfigValues& v) { v.routePort = port; }); }
void CKelmConfigManager::SetPubPort(uint16_t port) { Update([&](ConfigValues& v) { v.pubPort = port; }); }
void CKelmConfigManager::SetBroadcastPort(uint16_t port) { Update([&](ConfigValues& v) { v.broadcastPort = port; }); }
void CKelmConfigManager::SetSyncInterval(int32_t seconds) { Update([&](ConfigValues& v) { v.syncInterval = seconds; }); }
void CKelmConfigManager::SetFeedBack(std::string state) { Update([&](ConfigValues& v) { v.feedBack = std::move(state); }); }
void CKelmConfigManager::SetFirstTime(int32_t seconds) { Update([&](ConfigValues& v) { v.firstTime = seconds; }); }
void CKelmConfigManager::SetToken(std::string token) {
  Update([&](ConfigValues& v) {
    v.token = std::move(token);
    Derive(v);
  });
}
void CKelmConfigManager::SetKeys(std::string publicDer, std::string privateDer) {
  Update([&](ConfigValues& v) {
    v.publicKey = std::move(publicDer);
    v.privateKey = std::move(privateDer);
  });
}

void CKelmConfigManager::CopyAll(const CKelmConfigManager& other) {
  const auto values = other.Snapshot();
  std::lock_guard lock(mutex_);
  current_ = values;
}

void CKelmConfigManager::Merge(const CKelmConfigManager& other) {
  const ConfigValues in = *other.Snapshot();
  Update([&](ConfigValues& v) {
    if (!in.deviceName.empty()) v.deviceName = in.deviceName;
    if (!in.deviceUuid.empty()) v.deviceUuid = in.deviceUuid;
    if (in.routePort != kDefaultRoutePort) v.routePort = in.routePort;
    if (in.pubPort != kDefaultPubPort) v.pubPort = in.pubPort;
    if (in.broadcastPort != kDefaultBroadcastPort) v.broadcastPort = in.broadcastPort;
    if (!in.token.empty()) {
      v.token = in.token;
      Derive(v);
    }
    if (!in.publicKey.empty()) v.publicKey = in.publicKey;
    if (!in.privateKey.empty()) v.privateKey = in.privateKey;
    if (in.syncInterval != kDefaultSyncInterval) v.syncInterval = in.syncInterval;
    if (!in.feedBack.empty()) v.feedBack = in.feedBack;
    if (in.firstTime != 0) v.firstTime = in.firstTime;
  });
}

void CKelmConfigManager::Load() {
  auto& resolver = CContentResolver::Instance();
  ConfigValues values;
  values.feedBack = "first";
  for (const KeySpec& spec : kKeys) {
    if (spec.integer) {
      const int64_t missing = INT64_MIN;
      const int64_t number = resolver.QueryInt64(uris::Config(), "value", missing,
                                                 CSelection("name =  ? ").AddString(spec.name));
      if (number != missing) Assign(values, spec.key, {}, number);
    } else {
      std::string text;
      if (resolver.QueryString(uris::Config(), "value", text, CSelection("name = ? ").AddString(spec.name))) {
        Assign(values, spec.key, text, 0);
      }
    }
  }
  Derive(values);
  std::lock_guard lock(mutex_);
  current_ = std::make_shared<ConfigValues>(std::move(values));
}

bool CKelmConfigManager::Save() {
  const ConfigValues values = *Snapshot();
  store::COperationList batch;
  for (const KeySpec& spec : kKeys) {
    store::CContentValues& row = *batch.NewInsert(uris::Config(), store::kConflictReplace).GetValues();
    row.PutString("name", spec.name);
    switch (spec.key) {
      case Key::kDeviceName: row.PutString("value", values.deviceName); break;
      case Key::kDeviceUuid: row.PutString("value", values.deviceUuid); break;
      case Key::kRoutePort: row.PutInt("value", values.routePort); break;
      case Key::kPubPort: row.PutInt("value", values.pubPort); break;
      case Key::kBroadcastPort: row.PutInt("value", values.broadcastPort); break;
      case Key::kSyncInterval: row.PutInt("value", values.syncInterval); break;
      case Key::kFeedBack: row.PutString("value", values.feedBack); break;
      case Key::kFirstTime: row.PutInt("value", values.firstTime); break;
      case Key::kToken: row.PutString("value", values.token); break;
      case Key::kPublicKey: row.PutString("value", protocol::ssl::DerToPemPublic(values.publicKey)); break;
      case Key::kPrivateKey: row.PutString("value", protocol::ssl::DerToPemPrivate(values.privateKey)); break;
    }
  }
  return CContentResolver::Instance().ApplyBatch(store::kAuthority, batch) > 0;
}

std::unique_ptr<store::CSQLiteCursor> CKelmConfigManager::Query() {
  return CContentResolver::Instance().Query(uris::Config(), {"name", "value"}, CSelection());
}

void CKelmConfigManager::OnChange(std::unique_ptr<store::CSQLiteCursor> cursor) {
  LOG(INFO) << "Config changed, reload from SQLite";
  const auto previous = Snapshot();
  ConfigValues values;
  values.firstTime = previous->firstTime;  // kept unless a row sets it
  while (cursor && cursor->MoveToNext()) {
    const std::string name(cursor->GetString("name"));
    const KeySpec* spec = nullptr;
    for (const KeySpec& candidate : kKeys) {
      if (name == candidate.name) spec = &candidate;
    }
    if (spec == nullptr) {
      LOG(ERROR) << "Unknown config option: " << name;
      continue;
    }
    Assign(values, spec->key, std::string(cursor->GetString("value")), cursor->GetInt64("value"));
  }
  Derive(values);
  const bool tokenChanged = values.token != previous->token;
  const std::string ownUuid = values.deviceUuid;
  {
    std::lock_guard lock(mutex_);
    current_ = std::make_shared<ConfigValues>(std::move(values));
  }
  if (!tokenChanged) return;
  LOG(INFO) << "Token change detected, refresh device table";
  device::ResetDevices(ownUuid);
  if (context_ != nullptr) protocol::PushOnce(*context_, protocol::endpoints::kCommand, qo::MC_WIN_ISSUE_DISCOVER);
}

}  // namespace morvex::config
