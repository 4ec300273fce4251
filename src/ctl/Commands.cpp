#include "ctl/Commands.h"

#include <getopt.h>

#include <map>
#include <optional>
#include <set>

#include "core/OptionNumber.h"
#include "ctl/CommandContext.h"
#include "ctl/Json.h"
#include "platform/Metadir.h"

namespace morvex::ctl {
namespace {

constexpr const char* kUsage =
    "usage: morvexctl [-m METADIR] [--json] COMMAND\n"
    "commands:\n"
    "  id                                   this device\n"
    "  devices                              the devices this device knows\n"
    "  trust request DEVICE [--timeout S]   ask DEVICE for trust (default 300 s)\n"
    "  trust accept DEVICE                  accept DEVICE's pending request\n"
    "  trust deny DEVICE                    refuse DEVICE's request, or cancel ours\n"
    "  trust revoke DEVICE                  end trust with DEVICE on both sides\n"
    "  folders                              this device's sync folders\n"
    "  folder add PATH                      make the folder PATH a new sync folder\n"
    "  folder remove PATH                   stop syncing the folder PATH, with all its links\n"
    "  remote-folders DEVICE                DEVICE's sync folders\n"
    "  remote-roots DEVICE                  where DEVICE's folders can be browsed from\n"
    "  remote-ls DEVICE PATH                the contents of DEVICE's folder PATH\n"
    "  remote-folder add DEVICE PATH        make DEVICE's folder PATH a new sync folder\n"
    "  link DEVICE REMOTE LOCAL_PATH        sync DEVICE's sync folder REMOTE (tree UUID or\n"
    "                                       root) with LOCAL_PATH here\n"
    "  unlink LOCAL_PATH DEVICE             stop syncing LOCAL_PATH with DEVICE\n"
    "  syncs                                the links of this device's sync folders\n"
    "  sync-now [LOCAL_PATH]                a sync pass now, for every link or LOCAL_PATH's\n"
    "  rescan                               look for changes in every sync folder now\n"
    "  status                               what the service is doing, per link and folder\n"
    "  wait [LOCAL_PATH] [--timeout S]      until nothing is pending (default 300 s; exit 4\n"
    "                                       when still busy)\n"
    "DEVICE is a full UUID, a unique UUID prefix or an exact device name.\n";

std::optional<Invocation> Parse(const std::vector<std::string>& arguments, std::ostream& err) {
  enum { kJson = 1000, kTimeout };
  static const option kOptions[] = {{"metadir", required_argument, nullptr, 'm'},
                                    {"json", no_argument, nullptr, kJson},
                                    {"timeout", required_argument, nullptr, kTimeout},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  Invocation invocation;
  invocation.metadir = platform::DefaultMetadir();
  std::vector<std::string> words = arguments;
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  optind = 0;
  opterr = 0;
  int c;
  while ((c = getopt_long(static_cast<int>(words.size()), argv.data(), "m:h", kOptions, nullptr)) != -1) {
    switch (c) {
      case 'm': invocation.metadir = optarg; break;
      case kJson: invocation.json = true; break;
      case kTimeout: invocation.timeout = static_cast<int>(core::ParseOptionNumber(optarg)); break;
      default:
        err << kUsage;
        return std::nullopt;
    }
  }
  for (int i = optind; i < static_cast<int>(words.size()); ++i) invocation.words.emplace_back(argv[static_cast<size_t>(i)]);
  if (invocation.words.empty() || invocation.timeout <= 0) {
    err << kUsage;
    return std::nullopt;
  }
  return invocation;
}

const char* PairName(int pair) {
  switch (pair) {
    case qo::PAIR: return "PAIR";
    case qo::WAIT: return "WAIT";
    case qo::ACK: return "ACK";
    default: return "NONE";
  }
}

int ShowId(Context& context) {
  const LocalIdentity& id = context.client->Identity();
  if (context.invocation.json) {
    context.out << "{\"uuid\": " << JsonString(id.uuid) << ", \"name\": " << JsonString(id.name)
                << ", \"route_port\": " << id.routePort << ", \"pub_port\": " << id.pubPort
                << ", \"broadcast_port\": " << id.broadcastPort << "}\n";
  } else {
    context.out << "uuid:           " << id.uuid << "\nname:           " << TerminalText(id.name)
                << "\nroute port:     " << id.routePort << "\npublish port:   " << id.pubPort
                << "\nbroadcast port: " << id.broadcastPort << "\n";
  }
  return kExitOk;
}


int ShowDevices(Context& context) {
  qo::MsgDeviceShowResponse devices;
  if (CtlAnswer answer = ListDevices(context, devices); answer.status != kExitOk) return context.Fail(answer);
  if (context.invocation.json) {
    context.out << "[";
    for (int i = 0; i < devices.devices_size(); ++i) {
      const qo::DeviceInfo& d = devices.devices(i);
      context.out << (i == 0 ? "" : ", ") << "{\"uuid\": " << JsonString(d.uuid()) << ", \"name\": "
                  << JsonString(d.name()) << ", \"address\": " << JsonString(d.route_uri())
                  << ", \"type\": " << JsonString(qo::DeviceType_Name(d.type()))
                  << ", \"self\": " << JsonBool(d.is_self() == qo::PB_TRUE)
                  << ", \"trusted\": " << JsonBool(d.pair_status() == qo::PAIR)
                  << ", \"online\": " << JsonBool(d.is_online() == qo::PB_TRUE)
                  << ", \"pair\": " << JsonString(PairName(d.pair_status())) << "}";
    }
    context.out << "]\n";
    return kExitOk;
  }
  for (const qo::DeviceInfo& d : devices.devices()) {
    context.out << d.uuid() << "  " << PairName(d.pair_status()) << (d.is_online() == qo::PB_TRUE ? "  online " : "  offline")
                << (d.is_self() == qo::PB_TRUE ? "  (this device)" : "") << "  " << TerminalText(d.name()) << "  " << TerminalText(d.route_uri())
                << "\n";
  }
  return kExitOk;
}


int Trust(Context& context) {
  const auto& words = context.invocation.words;
  int status = kExitOk;
  const std::optional<std::string> device = ResolveDevice(context, words[2], status);
  if (!device) return status;
  const std::string& verb = words[1];
  CtlAnswer answer;
  if (verb == "request") {
    qo::MsgLinuxTrustPublishRequest request;
    request.set_device_uuid(*device);
    request.set_timeout(context.invocation.timeout);
    answer = context.client->Request(qo::MC_LINUX_TRUST_PUBLISH_REQUEST, &request);
  } else if (verb == "accept") {
    qo::MsgLinuxTrustRequest request;
    request.set_device_uuid(*device);
    answer = context.client->Request(qo::MC_LINUX_TRUST_REQUEST, &request);
    qo::MsgLinuxTrustResponse result;
    if (answer.status == kExitOk && (!result.ParseFromString(answer.body) || result.trust_result() != qo::TRUST_ALLOW)) {
      answer.status = kExitServiceError;
      answer.message = "TRUST_DENY: the other device refused";
    }
  } else if (verb == "deny") {
    qo::MsgLinuxTrustCancelRequest request;
    request.set_device_uuid(*device);
    answer = context.client->Request(qo::MC_LINUX_TRUST_CANCEL_REQUEST, &request);
  } else if (verb == "revoke") {
    qo::MsgDistrustRequest request;
    request.set_device_uuid(*device);
    answer = context.client->Request(qo::MC_DISTRUST_REQUEST, &request);
  } else {
    return context.Usage();
  }
  if (answer.status != kExitOk) return context.Fail(answer);
  if (context.invocation.json) context.out << "{\"device\": " << JsonString(*device) << ", \"done\": " << JsonString(verb) << "}\n";
  return kExitOk;
}


}  // namespace

void PrintUsage(std::ostream& err) { err << kUsage; }

int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  std::optional<Invocation> invocation = Parse(arguments, err);
  if (!invocation) return kExitUsage;
  struct Command {
    int (*run)(Context&);
    size_t minWords;  // the command's name included
    size_t maxWords;
    std::set<std::string> verbs = {};  // the second word, for commands that have one
  };
  static const std::map<std::string, Command> kCommands = {
      {"id", {ShowId, 1, 1}},
      {"devices", {ShowDevices, 1, 1}},
      {"trust", {Trust, 3, 3, {"request", "accept", "deny", "revoke"}}},
      {"folders", {ShowFolders, 1, 1}},
      {"folder", {Folder, 3, 3, {"add", "remove"}}},
      {"remote-folders", {ShowRemoteFolders, 2, 2}},
      {"remote-roots", {ShowRemoteRoots, 2, 2}},
      {"remote-ls", {ShowRemoteListing, 3, 3}},
      {"remote-folder", {AddRemoteFolder, 4, 4, {"add"}}},
      {"link", {Link, 4, 4}},
      {"unlink", {Unlink, 3, 3}},
      {"syncs", {ShowSyncs, 1, 1}},
      {"sync-now", {SyncNow, 1, 2}},
      {"rescan", {Rescan, 1, 1}},
      {"status", {ShowStatus, 1, 1}},
      {"wait", {Wait, 1, 2}},
  };
  const auto command = kCommands.find(invocation->words.front());
  const size_t count = invocation->words.size();
  if (command == kCommands.end() || count < command->second.minWords || count > command->second.maxWords ||
      (!command->second.verbs.empty() && command->second.verbs.count(invocation->words[1]) == 0)) {
    err << kUsage;
    return kExitUsage;
  }
  std::string error;
  std::optional<LocalIdentity> identity = ReadLocalIdentity(invocation->metadir, error);
  if (!identity) {
    err << error << "\n";
    return kExitServiceError;
  }
  Context context{std::move(*invocation), out, err, std::nullopt};
  context.client.emplace(std::move(*identity));
  return command->second.run(context);
}

}  // namespace morvex::ctl
