#include "service/CommandLine.h"

#include <getopt.h>

#include "core/OptionNumber.h"
#include "core/StringPrintf.h"
#include "core/Text.h"

namespace morvex::service {
namespace {

// A port as an option gives it: decimal digits only, the whole word, 1..65535.
// Anything looser once let "abc" through as port 0 and "99999" as its low
// sixteen bits.
std::optional<uint16_t> PortValue(const char* text) {
  const std::optional<int64_t> value = core::OptionNumber(text, 1, 65535);
  if (!value) return std::nullopt;
  return static_cast<uint16_t>(*value);
}

// How the user wrote the option getopt stopped at: a long one as typed
// (without its "=value"); a letter, which may sit inside a group such as
// "-yz", as getopt reports it.
std::string OptionAsWritten(const char* word, int letter) {
  std::string text(word);
  if (text.rfind("--", 0) != 0) return "-" + std::string(1, static_cast<char>(letter));
  if (const size_t equals = text.find('='); equals != std::string::npos) text.resize(equals);
  return text;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  enum LongOnly { kRestart = 1000, kHeadless, kVersion, kTokenFile };
  static const option kLongOptions[] = {
      {"create", no_argument, nullptr, 'c'},        {"name", required_argument, nullptr, 'n'},
      {"route-port", required_argument, nullptr, 'r'}, {"pub-port", required_argument, nullptr, 'p'},
      {"broadcast-port", required_argument, nullptr, 'b'}, {"token", required_argument, nullptr, 't'},
      {"token-file", required_argument, nullptr, kTokenFile},
      {"metadir", required_argument, nullptr, 'm'}, {"restart", no_argument, nullptr, kRestart},
      {"headless", no_argument, nullptr, kHeadless}, {"yes", no_argument, nullptr, 'y'},
      {"help", no_argument, nullptr, 'h'},          {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0},
  };
  ParsedCommandLine parsed;
  CommandLineOptions& options = parsed.options;
  std::vector<std::string> words = arguments;
  if (words.empty()) words.emplace_back("morvex");
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  // Leading '+': stop at the first word that is not an option, so that it
  // is reported rather than moved aside; ':' reports a missing value apart
  // from an unknown option. opterr = 0: the errors are ours to word.
  optind = 0;  // a full re-initialisation of getopt's state (GNU)
  opterr = 0;
  // A refused line gives no options at all, not the ones read before the
  // mistake: nothing of it may be stored.
  const auto fail = [](std::string text) {
    ParsedCommandLine refused;
    refused.error = std::move(text);
    return refused;
  };
  int c;
  while ((c = getopt_long(argc, argv.data(), "+:cyhn:r:p:b:t:m:", kLongOptions, nullptr)) != -1) {
    // The word getopt has just read; for a letter inside a group this may be
    // the word before, which OptionAsWritten does not use.
    const char* current = argv[static_cast<size_t>(optind > 0 ? optind - 1 : 0)];
    switch (c) {
      case 'c': options.create = true; break;
      case 'y': options.yes = true; break;
      case 'h': options.action = CommandAction::kHelp; break;
      case kVersion: options.action = CommandAction::kVersion; break;
      case 'n': options.name = optarg; break;
      case 'r':
      case 'p':
      case 'b': {
        const std::optional<uint16_t> port = PortValue(optarg);
        if (!port) {
          return fail(core::StringPrintf(
              core::Tr("invalid port '%s' for %s: a number from 1 to 65535"), optarg,
              c == 'r' ? "-r/--route-port" : c == 'p' ? "-p/--pub-port" : "-b/--broadcast-port"));
        }
        (c == 'r' ? options.routePort : c == 'p' ? options.pubPort : options.broadcastPort) = port;
        break;
      }
      case 't': options.token = optarg; break;
      case kTokenFile: options.tokenFile = optarg; break;
      case 'm': options.metadir = optarg; break;
      case kRestart: options.restart = true; break;
      case kHeadless: options.headless = true; break;
      case ':':
        return fail(core::StringPrintf(core::Tr("option %s needs a value"), OptionAsWritten(current, optopt).c_str()));
      default: {
        // '?': unknown, or an abbreviation of more than one long option.
        const std::string written = OptionAsWritten(current, optopt);
        int matches = 0;
        for (const option* known = kLongOptions; known->name != nullptr; ++known) {
          if (written.size() > 2 && std::string_view(known->name).starts_with(written.substr(2))) ++matches;
        }
        return fail(core::StringPrintf(matches > 1 ? core::Tr("ambiguous option %s") : core::Tr("unknown option %s"),
                                       written.c_str()));
      }
    }
  }
  if (optind < argc) {
    return fail(
        core::StringPrintf(core::Tr("unexpected word '%s' (a value with spaces must be quoted: -t 'correct horse')"),
                           words[static_cast<size_t>(optind)].c_str()));
  }
  return parsed;
}

std::string UsageText() {
  return core::Tr(
      "Usage: morvex [OPTION]...\n"
      "The Morvex folder synchronisation service, one per user.\n"
      "\n"
      "  -n, --name NAME             this device's name as other devices see it\n"
      "  -t, --token PASSWORD        the sync password (visible to every user in ps:\n"
      "                              prefer --token-file or MORVEX_TOKEN)\n"
      "      --token-file PATH       read the sync password from PATH (first line;\n"
      "                              mode 600, a regular file)\n"
      "  -r, --route-port PORT       the port for requests (1..65535)\n"
      "  -p, --pub-port PORT         the port for published changes (1..65535)\n"
      "  -b, --broadcast-port PORT   the UDP port of discovery (1..65535)\n"
      "  -m, --metadir DIR           the profile folder (default ~/.config)\n"
      "      --headless              run without a desktop\n"
      "  -c, --create                re-initialise this device: a new identity\n"
      "  -y, --yes                   confirm --create without asking\n"
      "      --restart               wait for a previous instance to end first\n"
      "  -h, --help                  show this help and exit\n"
      "      --version               show the version and exit\n"
      "\n"
      "The sync password is taken from -t, else --token-file, else the\n"
      "environment variable MORVEX_TOKEN. The first start needs one. The\n"
      "file and the variable only give the first one: later the stored password\n"
      "is kept (change it with 'morvexctl config set password'); -t replaces it.\n"
      "\n"
      "Exit status: 0 stopped normally, 1 failed to start, 2 usage error.\n");
}

std::optional<int> AnswerWithoutStarting(const ParsedCommandLine& parsed, std::ostream& out, std::ostream& err) {
  if (!parsed.Ok()) {
    err << "morvex: " << parsed.error << "\n" << core::Tr("see 'morvex --help'") << std::endl;
    return kExitUsage;
  }
  switch (parsed.options.action) {
    case CommandAction::kHelp: out << UsageText() << std::flush; return 0;
    case CommandAction::kVersion: out << "morvex " << MORVEX_VERSION << std::endl; return 0;
    case CommandAction::kRun: break;
  }
  return std::nullopt;
}

}  // namespace morvex::service
