#include "desktop/SettingsEdit.h"

#include <utility>

#include "desktop/Strings.h"

namespace morvex::desktop {

bool IsModified(const SettingsValues& saved, const SettingsValues& edited) { return saved != edited; }

ApplyDecision DecideApply(const SettingsValues& saved, const SettingsValues& edited) {
  ApplyDecision decision;
  if (!IsModified(saved, edited)) return decision;
  const int ports[] = {edited.broadcastPort, edited.routePort, edited.pubPort};
  if (ports[0] == ports[1] || ports[0] == ports[2] || ports[1] == ports[2]) {
    decision.error = core::Tr(Str(143));
    return decision;
  }
  for (const int port : ports) {
    if (port < 1024 || port > 65535) {
      decision.error = core::Tr(Str(153));
      return decision;
    }
  }
  // An empty name or password is refused as the setup wizard refuses it;
  // the rest of the rules are those of the service's own tools (no control
  // characters, a name of bounded length).
  if (edited.name.empty() || edited.password.empty()) {
    decision.error = core::Tr(edited.name.empty() ? Str(133) : Str(137));
    return decision;
  }
  for (const auto& [setting, value] : {std::pair{config::Setting::kName, &edited.name},
                                       std::pair{config::Setting::kPassword, &edited.password}}) {
    if (std::string problem = config::ValueProblem(setting, *value); !problem.empty()) {
      decision.error = std::move(problem);
      return decision;
    }
  }
  decision.changes.push_back({config::Setting::kName, edited.name});
  decision.changes.push_back({config::Setting::kPassword, edited.password});
  const struct {
    config::Setting setting;
    int saved;
    int edited;
  } portRows[] = {{config::Setting::kBroadcastPort, saved.broadcastPort, edited.broadcastPort},
                  {config::Setting::kPublishPort, saved.pubPort, edited.pubPort},
                  {config::Setting::kPort, saved.routePort, edited.routePort}};
  for (const auto& row : portRows) {
    if (row.saved != row.edited) decision.changes.push_back({row.setting, std::to_string(row.edited)});
  }
  return decision;
}

}  // namespace morvex::desktop
