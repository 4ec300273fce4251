// What the settings page's Apply does with the values in its fields: the
// rules, apart from the widgets, so that they can be tested from a table.
#pragma once

#include <string>
#include <vector>

#include "config/Settings.h"

namespace morvex::desktop {

// The values the page shows. Ports are what the fields hold, read as
// numbers (an empty field is 0), so that out-of-range input is seen.
struct SettingsValues {
  std::string name;
  std::string password;
  int broadcastPort = 0;
  int routePort = 0;
  int pubPort = 0;
  bool operator==(const SettingsValues&) const = default;
};

// Whether the fields differ from what is stored (Apply and Cancel are
// enabled only then, or after the start-at-log-in box was clicked).
bool IsModified(const SettingsValues& saved, const SettingsValues& edited);

// Apply's outcome: an error to show (translated) and nothing written, or
// the settings to store. The name and the password are always written when
// anything changed; a port only when it moved.
struct ApplyDecision {
  std::string error;
  std::vector<config::SettingChange> changes;
};
ApplyDecision DecideApply(const SettingsValues& saved, const SettingsValues& edited);

}  // namespace morvex::desktop
