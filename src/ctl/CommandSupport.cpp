#include <cctype>
#include <filesystem>

#include "core/StringPrintf.h"
#include "core/Text.h"
#include "ctl/CommandContext.h"
#include "ctl/Json.h"

namespace morvex::ctl {

CtlAnswer Parsed(CtlAnswer answer, google::protobuf::MessageLite& message) {
  if (answer.status == kExitOk && !message.ParseFromString(answer.body)) {
    answer.status = kExitServiceError;
    answer.message = core::StringPrintf(core::Tr("unreadable answer (code %d)"), answer.code);
  }
  return answer;
}

CtlAnswer ListDevices(Context& context, qo::MsgDeviceShowResponse& devices) {
  return Parsed(context.client->Request(qo::MC_DEVICE_SHOW_REQUEST, nullptr), devices);
}

std::optional<std::string> ResolveDevice(Context& context, const std::string& wanted, int& status) {
  qo::MsgDeviceShowResponse devices;
  if (CtlAnswer answer = ListDevices(context, devices); answer.status != kExitOk) {
    status = context.Fail(answer);
    return std::nullopt;
  }
  std::vector<std::string> byPrefix;
  std::vector<std::string> byName;
  for (const qo::DeviceInfo& d : devices.devices()) {
    if (d.uuid() == wanted) return d.uuid();
    if (d.uuid().rfind(wanted, 0) == 0) byPrefix.push_back(d.uuid());
    if (d.name() == wanted) byName.push_back(d.uuid());
  }
  const std::vector<std::string>& matches = byPrefix.size() == 1 || byName.empty() ? byPrefix : byName;
  if (matches.size() == 1) return matches.front();
  status = context.Fail(matches.empty() ? NoSuchDevice(wanted) : AmbiguousDevice(wanted));
  return std::nullopt;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  std::filesystem::path full(path);
  std::error_code error;
  if (full.is_relative()) full = std::filesystem::current_path(error) / full;
  std::string text = full.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

void PrintListing(Context& context, const Entry& columns, const std::vector<Entry>& entries) {
  if (!context.invocation.json) {
    for (size_t i = 0; i < columns.size(); ++i) {
      std::string name = columns[i].key;
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      context.out << (i == 0 ? "" : "\t") << name;
    }
    context.out << "\n";
  }
  Print(context, entries);
}

void Print(Context& context, const std::vector<Entry>& entries, bool list) {
  if (!context.invocation.json) {
    for (const Entry& entry : entries) {
      for (size_t i = 0; i < entry.size(); ++i) context.out << (i == 0 ? "" : "\t") << TerminalText(entry[i].text);
      context.out << "\n";
    }
    return;
  }
  context.out << (list ? "[" : "");
  for (size_t e = 0; e < entries.size(); ++e) {
    context.out << (e == 0 ? "{" : ", {");
    for (size_t i = 0; i < entries[e].size(); ++i) {
      const Field& field = entries[e][i];
      context.out << (i == 0 ? "" : ", ") << JsonString(field.key) << ": "
                  << (field.number ? field.text : JsonString(field.text));
    }
    context.out << "}";
  }
  context.out << (list ? "]\n" : "\n");
}

}  // namespace morvex::ctl
