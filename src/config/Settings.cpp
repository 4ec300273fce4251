#include "config/Settings.h"

#include "config/ConfigKeys.h"
#include "config/KelmConfig.h"
#include "core/OptionNumber.h"
#include "core/StringPrintf.h"
#include "core/Text.h"
#include "store/ContentResolver.h"

namespace morvex::config {

namespace uris = store::uris;
using store::CContentResolver;

namespace {

uint16_t PortOf(Setting setting, const StoredPorts& ports) {
  switch (setting) {
    case Setting::kBroadcastPort: return ports.broadcast;
    case Setting::kPublishPort: return ports.publish;
    default: return ports.route;
  }
}

// "tcp://localhost:<port>", the form the Device row keeps addresses in.
std::string LocalUri(const std::string& port) { return "tcp://localhost:" + port; }

}  // namespace

const std::vector<SettingInfo>& AllSettings() {
  static const std::vector<SettingInfo> kAll = {
      {Setting::kName, "name", keys::kDeviceName},
      {Setting::kPassword, "password", keys::kToken},
      {Setting::kPort, "port", keys::kRoutePort},
      {Setting::kBroadcastPort, "broadcast-port", keys::kBroadcastPort},
      {Setting::kPublishPort, "publish-port", keys::kPubPort},
      {Setting::kSyncInterval, "sync-interval", keys::kSyncInterval},
  };
  return kAll;
}

std::optional<SettingInfo> FindSetting(std::string_view name) {
  for (const SettingInfo& info : AllSettings()) {
    if (name == info.name) return info;
  }
  return std::nullopt;
}

std::string ValueProblem(Setting setting, std::string_view value) {
  const std::string quoted(value);
  if (IsPortSetting(setting)) {
    if (core::OptionNumber(value, 1, 65535)) return {};
    return core::StringPrintf(core::Tr("'%s' is not a port: give a number from 1 to 65535"), quoted.c_str());
  }
  if (setting == Setting::kSyncInterval) {
    if (core::OptionNumber(value, 0, kMaxSyncIntervalSeconds)) return {};
    return core::StringPrintf(core::Tr("'%s' is not a sync interval: give seconds from 0 (off) to %lld"),
                              quoted.c_str(), static_cast<long long>(kMaxSyncIntervalSeconds));
  }
  if (value.empty()) {
    return setting == Setting::kName ? core::Tr("the device name cannot be empty")
                                     : core::Tr("the sync password cannot be empty");
  }
  for (const char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      return setting == Setting::kName ? core::Tr("the device name cannot contain control characters")
                                       : core::Tr("the sync password cannot contain control characters");
    }
  }
  if (setting == Setting::kName && value.size() > kMaxDeviceNameBytes) {
    return core::StringPrintf(core::Tr("the device name is too long: at most %d bytes"),
                              static_cast<int>(kMaxDeviceNameBytes));
  }
  return {};
}

std::string PortClash(Setting setting, uint16_t port, const StoredPorts& now) {
  for (const Setting other : {Setting::kPort, Setting::kBroadcastPort, Setting::kPublishPort}) {
    if (other == setting || PortOf(other, now) != port) continue;
    // AllSettings lists the settings in the order of the enumeration.
    return core::StringPrintf(core::Tr("port %d is already the %s of this device"), static_cast<int>(port),
                              AllSettings()[static_cast<size_t>(other)].name);
  }
  return {};
}

int32_t ReadStoredSyncInterval() {
  return static_cast<int32_t>(CContentResolver::Instance().QueryInt64(
      uris::Config(), "value", kDefaultSyncInterval, store::CSelection("name = ? ").AddString(keys::kSyncInterval)));
}

namespace {

// The rows one setting is kept in, added to `batch`.
void AddSettingRows(store::COperationList& batch, Setting setting, const std::string& value,
                    const std::string& ownUuid) {
  // AllSettings lists the settings in the order of the enumeration.
  const SettingInfo* info = &AllSettings()[static_cast<size_t>(setting)];
  store::CContentValues& row = *batch.NewInsert(uris::Config(), store::kConflictReplace).GetValues();
  row.PutString("name", info->configKey);
  if (IsPortSetting(setting) || setting == Setting::kSyncInterval) {
    row.PutInt("value", *core::OptionNumber(value, 0, kMaxSyncIntervalSeconds));
  } else {
    row.PutString("value", value);
  }
  // Peers learn our addresses from the own row as well as from discovery.
  const char* deviceColumn = setting == Setting::kName          ? "name"
                             : setting == Setting::kPort        ? "route_uri"
                             : setting == Setting::kPublishPort ? "pub_uri"
                                                                : nullptr;
  if (deviceColumn != nullptr) {
    store::CContentValues& own =
        *batch.NewUpdate(uris::Device(), store::CSelection("uuid = ? ").AddString(ownUuid)).GetValues();
    own.PutString(deviceColumn, setting == Setting::kName ? value : LocalUri(value));
  }
}

}  // namespace

bool StoreSetting(Setting setting, const std::string& value, const std::string& ownUuid) {
  return StoreSettings({{setting, value}}, ownUuid);
}

bool StoreSettings(const std::vector<SettingChange>& changes, const std::string& ownUuid) {
  if (changes.empty()) return true;
  store::COperationList batch;
  for (const SettingChange& change : changes) AddSettingRows(batch, change.setting, change.value, ownUuid);
  return CContentResolver::Instance().ApplyBatch(store::kAuthority, batch) >= 0;
}

}  // namespace morvex::config
