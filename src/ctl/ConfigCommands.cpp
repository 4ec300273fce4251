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

std::optional<SettingInfo> Known(Context& context, const std::string& word, int& status) {
  std::optional<SettingInfo> info = config::FindSetting(word);
  if (!info) status = context.Fail(kExitUsage, UnknownSetting(word, KnownSettings()));
  return info;
}

int Get(Context& context) {
  const auto& words = context.invocation.words;
  std::vector<SettingInfo> wanted;
  if (words.size() > 2) {
    int status = kExitOk;
    const std::optional<SettingInfo> info = Known(context, words[2], status);
    if (!info) return status;
    wanted.push_back(*info);
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
  int status = kExitOk;
  const std::optional<SettingInfo> info = Known(context, words[2], status);
  if (!info) return status;
  const std::string& value = words[3];
  if (const std::string problem = config::ValueProblem(info->setting, value); !problem.empty()) {
    return context.Fail(kExitUsage, BadSettingValue(problem));
  }
  if (info->setting == Setting::kPort || info->setting == Setting::kBroadcastPort ||
      info->setting == Setting::kPublishPort) {
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

int Config(Context& context) {
  const auto& words = context.invocation.words;
  if (words[1] == "get") {
    if (words.size() > 3) return context.Fail(kExitUsage, TooManyWords("config get", words[3]));
    return Get(context);
  }
  if (words.size() < 4) return context.Fail(kExitUsage, MissingArgument("config set"));
  return Set(context);
}

}  // namespace morvex::ctl
