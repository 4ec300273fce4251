#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/ConfigTable.h"

namespace morvex::config {

// The settings a user changes from the command line, by the names the
// service's own options use, and the Config row each is kept in.
enum class Setting { kName, kPassword, kPort, kBroadcastPort, kPublishPort, kSyncInterval };

struct SettingInfo {
  Setting setting;
  const char* name;       // what the user types: "name", "port", ...
  const char* configKey;  // the Config row
};
const std::vector<SettingInfo>& AllSettings();
std::optional<SettingInfo> FindSetting(std::string_view name);

inline bool IsPortSetting(Setting setting) {
  return setting == Setting::kPort || setting == Setting::kBroadcastPort || setting == Setting::kPublishPort;
}

inline constexpr size_t kMaxDeviceNameBytes = 64;
inline constexpr int64_t kMaxSyncIntervalSeconds = 7 * 24 * 3600;

// What is wrong with `value` for `setting` on its own, translated; empty
// when it may be stored. A sync interval of 0 turns periodic passes off.
std::string ValueProblem(Setting setting, std::string_view value);
// What is wrong with moving `setting` (a port) to `port` while the ports
// are `now`: empty when no other port already has that number.
std::string PortClash(Setting setting, uint16_t port, const StoredPorts& now);

// The stored sync interval in seconds (its default when the row is missing),
// read from the table like ReadStoredPorts.
int32_t ReadStoredSyncInterval();

// Stores a value ValueProblem accepted: the Config row, and for the name and
// the route and publish ports this device's own Device row too, in one
// batch. The service's Config observers apply it (ports rebound, a new
// password announced). False when the batch failed.
bool StoreSetting(Setting setting, const std::string& value, const std::string& ownUuid);

// Several accepted values stored as StoreSetting stores each, all in one
// batch (the settings page's Apply). False when the batch failed.
struct SettingChange {
  Setting setting;
  std::string value;
  bool operator==(const SettingChange&) const = default;
};
bool StoreSettings(const std::vector<SettingChange>& changes, const std::string& ownUuid);

}  // namespace morvex::config
