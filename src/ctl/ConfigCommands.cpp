#include <optional>
#include <string>

#include "config/KelmConfig.h"
#include "config/Settings.h"
#include "core/StringPrintf.h"
#include "core/Text.h"
#include "ctl/CommandContext.h"
#include "ctl/Json.h"

namespace morvex::ctl {
namespace {

using config::Setting;
using config::SettingInfo;

std::string KnownSettings() {
  std::string names;
  for (const SettingInfo& info : config::AllSettings()) names += (names.empty() ? "" : ", ") + std::string(info.name);
  return names;
}

// A setting's value as 'config get' shows it: numbers as numbers, the
// password only as whether there is one.
Field Shown(const SettingInfo& info, const config::ConfigValues& values, bool json) {
  switch (info.setting) {
    case Setting::kName: return {info.name, values.deviceName};
    case Setting::kPassword:
      if (json) return {info.name, values.token.empty() ? "not set" : "set"};
      return {info.name, values.token.empty() ? core::Tr("not set") : core::Tr("set")};
    case Setting::kPort: return {info.name, std::to_string(values.routePort), true};
    case Setting::kBroadcastPort: return {info.name, std::to_string(values.broadcastPort), true};
    case Setting::kPublishPort: return {info.name, std::to_string(values.pubPort), true};
    case Setting::kSyncInterval: return {info.name, std::to_string(values.syncInterval), true};
  }
  return {info.name, ""};
}

int Get(Context& context) {
  const auto& words = context.invocation.words;
  std::vector<SettingInfo> wanted;
  if (words.size() > 2) {
    wanted.push_back(*config::FindSetting(words[2]));
  } else {
    wanted = config::AllSettings();
  }
  // Read like the identity: the database the service keeps, read-only.
  config::CKelmConfigManager stored;
  stored.Load();
  const auto values = stored.Snapshot();
  Entry entry;
  for (const SettingInfo& info : wanted) entry.push_back(Shown(info, *values, context.invocation.json));
  if (context.invocation.json) {
    Print(context, {entry}, false);
  } else if (entry.size() == 1) {
    // One value alone, for scripts: $(morvexctl config get port).
    context.out << TerminalText(entry.front().text) << "\n";
  } else {
    for (const Field& field : entry) {
      context.out << field.key << std::string(16 - std::string_view(field.key).size(), ' ')
                  << TerminalText(field.text) << "\n";
    }
  }
  return kExitOk;
}

int Set(Context& context) {
  const auto& words = context.invocation.words;
  const std::optional<SettingInfo> info = config::FindSetting(words[2]);
  const std::string& value = words[3];
  if (config::IsPortSetting(info->setting)) {
    const LocalIdentity& id = context.client->Identity();
    const config::StoredPorts now{id.broadcastPort, id.routePort, id.pubPort};
    if (const std::string clash = config::PortClash(info->setting, static_cast<uint16_t>(std::stoi(value)), now);
        !clash.empty()) {
      return context.Fail(kExitUsage, BadSettingValue(clash));
    }
  }
  qo::MsgLinuxConfigSetRequest request;
  request.set_key(info->name);
  request.set_value(value);
  const CtlAnswer answer = context.client->Request(qo::MC_LINUX_CONFIG_SET_REQUEST, &request);
  if (answer.status != kExitOk) {
    return context.Fail(answer, core::StringPrintf(core::Tr("the service did not change %s"), info->name));
  }
  if (context.invocation.json) {
    context.out << "{\"key\": " << JsonString(info->name) << ", \"done\": \"set\"}\n";
  }
  return kExitOk;
}

}  // namespace

std::string ConfigMistake(const std::vector<std::string>& words) {
  if (words[1] == "get" && words.size() > 3) return TooManyWords("config get", words[3]);
  if (words[1] == "set" && words.size() < 4) return MissingArgument("config set");
  if (words.size() < 3) return {};
  const std::optional<SettingInfo> info = config::FindSetting(words[2]);
  if (!info) return UnknownSetting(words[2], KnownSettings());
  if (words[1] == "get") return {};
  const std::string problem = config::ValueProblem(info->setting, words[3]);
  return problem.empty() ? std::string() : BadSettingValue(problem);
}

int Config(Context& context) { return context.invocation.words[1] == "get" ? Get(context) : Set(context); }

}  // namespace morvex::ctl
