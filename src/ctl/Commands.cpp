#include "ctl/Commands.h"

#include <getopt.h>

#include <algorithm>
#include <limits>
#include <cstring>
#include <iomanip>
#include <map>
#include <optional>
#include <set>

#include "ctl/CommandContext.h"
#include "ctl/ErrorSentences.h"
#include "ctl/Help.h"
#include "core/OptionNumber.h"
#include "ctl/Json.h"
#include "platform/Metadir.h"

namespace morvex::ctl {
namespace {

// The whole argument is a number of seconds above 0; anything else is
// a mistake to name, never a value read up to its first stray character.
std::optional<int> Seconds(const char* text) {
  const std::optional<int64_t> value = core::OptionNumber(text, 1, std::numeric_limits<int>::max());
  if (!value) return std::nullopt;
  return static_cast<int>(*value);
}

// Fills `invocation` from the options; false with the usage mistake in
// `mistake`. Options may come before, between or after the words.
bool Parse(const std::vector<std::string>& arguments, Invocation& invocation, std::string& mistake) {
  enum { kJson = 1000, kTimeout, kFollow };
  static const option kOptions[] = {{"metadir", required_argument, nullptr, 'm'},
                                    {"json", no_argument, nullptr, kJson},
                                    {"timeout", required_argument, nullptr, kTimeout},
                                    {"follow", no_argument, nullptr, kFollow},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  invocation.metadir = platform::DefaultMetadir();
  std::vector<std::string> words = arguments;
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());
  optind = 0;
  opterr = 0;
  int c;
  // The word getopt just looked at, for naming it in a mistake.
  const auto current = [&] { return std::string(argv[static_cast<size_t>(std::min(optind, argc) - 1)]); };
  while ((c = getopt_long(argc, argv.data(), ":m:h", kOptions, nullptr)) != -1) {
    switch (c) {
      case 'm': invocation.metadir = optarg; break;
      case 'h': invocation.help = true; break;
      case kJson: invocation.json = true; break;
      case kFollow: invocation.follow = true; break;
      case kTimeout:
        if (const std::optional<int> seconds = Seconds(optarg)) {
          invocation.timeout = *seconds;
          break;
        }
        mistake = BadNumber("--timeout", optarg);
        return false;
      case ':':
        mistake = MissingOptionValue(current());
        return false;
      default:
        // optopt is the letter of an unknown short option, 0 for a long one.
        mistake = UnknownOption(optopt != 0 ? std::string("-") + static_cast<char>(optopt) : current());
        return false;
    }
  }
  for (int i = optind; i < argc; ++i) invocation.words.emplace_back(argv[static_cast<size_t>(i)]);
  return true;
}

// Whether the command line asks for JSON, read before parsing so that a
// usage mistake is a JSON document too.
bool WantsJson(const std::vector<std::string>& arguments) {
  for (size_t i = 1; i < arguments.size() && arguments[i] != "--"; ++i) {
    if (arguments[i] == "--json") return true;
  }
  return false;
}

const char* FailureKind(int status) {
  switch (status) {
    case kExitUsage: return "usage";
    case kExitNoAnswer: return "service_down";
    case kExitTimeout: return "timeout";
    case kExitPeerUnreachable: return "peer_unreachable";
    case kExitItemsFailed: return "items_failed";
    default: return "refused";
  }
}

// The --json form of a failure: one object on standard output, the same
// sentences as on standard error.
void PrintJsonFailure(const Context& context, int status) {
  std::string message;
  for (const std::string& failure : context.failures) message += (message.empty() ? "" : "; ") + failure;
  context.out << "{\"error\": " << JsonString(FailureKind(status)) << ", \"status\": " << status;
  if (context.failedCode != 0) context.out << ", \"code\": " << context.failedCode;
  context.out << ", \"message\": " << JsonString(message) << "}\n";
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
  // Fixed widths up to the name; PAIR is explained in the usage text.
  constexpr int kUuidWidth = 36;
  context.out << std::left << std::setw(kUuidWidth) << "UUID" << "  PAIR  STATE    NAME  ADDRESS\n";
  for (const qo::DeviceInfo& d : devices.devices()) {
    context.out << std::left << std::setw(kUuidWidth) << d.uuid() << "  " << std::setw(4) << PairName(d.pair_status())
                << (d.is_online() == qo::PB_TRUE ? "  online " : "  offline") << "  " << TerminalText(d.name())
                << (d.is_self() == qo::PB_TRUE ? " (this device)" : "") << "  " << TerminalText(d.route_uri()) << "\n";
  }
  return kExitOk;
}


int Trust(Context& context) {
  const auto& words = context.invocation.words;
  int status = kExitOk;
  const std::optional<std::string> device = ResolveDevice(context, words[2], status);
  if (!device) return status;
  const SentenceNames names{.peer = words[2], .self = context.client->Identity().name};
  const std::string& verb = words[1];
  CtlAnswer answer;
  // Every verb but revoke waits for the service to hear from the peer.
  if (verb == "request") {
    qo::MsgLinuxTrustPublishRequest request;
    request.set_device_uuid(*device);
    request.set_timeout(context.invocation.timeout);
    answer = context.client->Request(qo::MC_LINUX_TRUST_PUBLISH_REQUEST, &request, CtlClient::kRelayWaitMs);
  } else if (verb == "accept") {
    qo::MsgLinuxTrustRequest request;
    request.set_device_uuid(*device);
    answer = context.client->Request(qo::MC_LINUX_TRUST_REQUEST, &request, CtlClient::kRelayWaitMs);
    qo::MsgLinuxTrustResponse result;
    if (answer.status == kExitOk && (!result.ParseFromString(answer.body) || result.trust_result() != qo::TRUST_ALLOW)) {
      answer.status = kExitServiceError;
      answer.message = TrustRefused(names);
    }
  } else if (verb == "deny") {
    qo::MsgLinuxTrustCancelRequest request;
    request.set_device_uuid(*device);
    answer = context.client->Request(qo::MC_LINUX_TRUST_CANCEL_REQUEST, &request, CtlClient::kRelayWaitMs);
  } else {
    qo::MsgDistrustRequest request;
    request.set_device_uuid(*device);
    answer = context.client->Request(qo::MC_DISTRUST_REQUEST, &request, CtlClient::kRelayWaitMs);
  }
  if (answer.status != kExitOk) {
    // The service's codes for a handshake, in the handshake's words.
    if (answer.error == qo::ZE_NOENT && verb != "revoke") answer.message = NoTrustRequest(names);
    if (answer.error != 0 && answer.error != qo::ZE_NOENT) answer.message = ErrorSentence(answer.error, names);
    return context.Fail(answer);
  }
  if (context.invocation.json) {
    context.out << "{\"device\": " << JsonString(*device) << ", \"done\": " << JsonString(verb) << "}\n";
  } else if (verb == "request") {
    context.out << TerminalText(TrustRequested(names, context.invocation.timeout)) << "\n";
  }
  return kExitOk;
}

// The usage on standard output, as asked for: all of it, or one command's.
int ShowHelp(Context& context, const std::vector<std::string>& words) {
  if (words.size() > 1) return context.Fail(kExitUsage, TooManyWords("help", words[1]));
  if (words.empty()) {
    context.out << FullUsage();
    return kExitOk;
  }
  const std::optional<std::string> usage = CommandUsage(words.front());
  if (!usage) return context.Fail(kExitUsage, UnknownHelpTopic(words.front()));
  context.out << *usage;
  return kExitOk;
}

int Run(Context& context, const std::vector<std::string>& arguments) {
  std::string mistake;
  if (!Parse(arguments, context.invocation, mistake)) return context.Fail(kExitUsage, mistake);
  const std::vector<std::string>& words = context.invocation.words;
  if (context.invocation.help) {
    // `morvexctl trust --help` is `morvexctl help trust`.
    if (words.empty() || !CommandUsage(words.front())) return ShowHelp(context, {});
    return ShowHelp(context, {words.front()});
  }
  if (words.empty()) return context.Fail(kExitUsage, NoCommand());
  if (words.front() == "help") return ShowHelp(context, {words.begin() + 1, words.end()});
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
      {"events", {ShowEvents, 1, 1}},
      {"config", {Config, 2, 4, {"get", "set"}}},
  };
  const auto found = kCommands.find(words.front());
  if (found == kCommands.end()) return context.Fail(kExitUsage, UnknownCommand(words.front()));
  const Command& command = found->second;
  const size_t count = words.size();
  const bool hasVerb = !command.verbs.empty() && count >= 2;
  if (hasVerb && command.verbs.count(words[1]) == 0) {
    return context.Fail(kExitUsage, UnknownVerb(words.front(), words[1]));
  }
  const std::string name = hasVerb ? words[0] + " " + words[1] : words[0];
  if (count < command.minWords) return context.Fail(kExitUsage, MissingArgument(name));
  if (count > command.maxWords) return context.Fail(kExitUsage, TooManyWords(name, words[command.maxWords]));
  if (context.invocation.follow && words.front() != "events") {
    return context.Fail(kExitUsage, OptionNotForCommand("--follow", name));
  }
  if (words.front() == "config") {
    if (const std::string configMistake = ConfigMistake(words); !configMistake.empty()) {
      return context.Fail(kExitUsage, configMistake);
    }
  }
  std::string error;
  std::optional<LocalIdentity> identity = ReadLocalIdentity(context.invocation.metadir, error);
  if (!identity) return context.Fail(error);
  context.client.emplace(std::move(*identity));
  return command.run(context);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  Context context{Invocation{}, out, err, std::nullopt, {}, 0};
  context.invocation.json = WantsJson(arguments);
  const int status = Run(context, arguments);
  if (status != kExitOk && context.invocation.json) PrintJsonFailure(context, status);
  return status;
}

}  // namespace morvex::ctl
