#include "ctl/Commands.h"

#include <getopt.h>

#include <functional>
#include <map>
#include <optional>

#include "ctl/CtlClient.h"
#include "ctl/Json.h"
#include "platform/Metadir.h"
#include "service/CommandLine.h"

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
    "DEVICE is a full UUID, a unique UUID prefix or an exact device name.\n";

struct Invocation {
  std::string metadir;
  bool json = false;
  int timeout = 300;
  std::vector<std::string> words;
};

struct Context {
  Invocation invocation;
  std::ostream& out;
  std::ostream& err;
  std::optional<CtlClient> client;

  int Fail(const CtlAnswer& answer) {
    err << answer.message << "\n";
    return answer.status;
  }
};

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
      case kTimeout: invocation.timeout = static_cast<int>(service::ParseOptionNumber(optarg)); break;
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
    context.out << "uuid:           " << id.uuid << "\nname:           " << id.name
                << "\nroute port:     " << id.routePort << "\npublish port:   " << id.pubPort
                << "\nbroadcast port: " << id.broadcastPort << "\n";
  }
  return kExitOk;
}

// The device list of the local service; status and message on failure.
CtlAnswer ListDevices(Context& context, qo::MsgDeviceShowResponse& devices) {
  CtlAnswer answer = context.client->Request(qo::MC_DEVICE_SHOW_REQUEST, nullptr);
  if (answer.status == kExitOk && !devices.ParseFromString(answer.body)) {
    answer.status = kExitServiceError;
    answer.message = "unreadable device list";
  }
  return answer;
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
                << (d.is_self() == qo::PB_TRUE ? "  (this device)" : "") << "  " << d.name() << "  " << d.route_uri()
                << "\n";
  }
  return kExitOk;
}

// A full UUID, a unique UUID prefix or an exact name.
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
  context.err << (matches.empty() ? "no such device: " : "more than one device matches: ") << wanted << "\n";
  status = kExitServiceError;
  return std::nullopt;
}

int Trust(Context& context) {
  const auto& words = context.invocation.words;
  if (words.size() != 3) {
    context.err << kUsage;
    return kExitUsage;
  }
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
    context.err << kUsage;
    return kExitUsage;
  }
  if (answer.status != kExitOk) return context.Fail(answer);
  if (context.invocation.json) context.out << "{\"device\": " << JsonString(*device) << ", \"done\": " << JsonString(verb) << "}\n";
  return kExitOk;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  std::optional<Invocation> invocation = Parse(arguments, err);
  if (!invocation) return kExitUsage;
  static const std::map<std::string, std::function<int(Context&)>> kCommands = {
      {"id", ShowId}, {"devices", ShowDevices}, {"trust", Trust}};
  const auto command = kCommands.find(invocation->words.front());
  if (command == kCommands.end() || (invocation->words.front() != "trust" && invocation->words.size() != 1)) {
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
  return command->second(context);
}

}  // namespace morvex::ctl
