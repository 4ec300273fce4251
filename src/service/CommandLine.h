#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace morvex::service {

// What the command line asks for: run the service, or only answer and exit.
enum class CommandAction { kRun, kHelp, kVersion };

// The service's options as given; applying them to the configuration is the
// device identity set-up's work.
struct CommandLineOptions {
  CommandAction action = CommandAction::kRun;
  bool create = false;
  bool yes = false;  // --create confirmed without asking
  std::optional<std::string> name;
  std::optional<uint16_t> routePort;
  std::optional<uint16_t> pubPort;
  std::optional<uint16_t> broadcastPort;
  std::optional<std::string> token;
  std::optional<std::string> tokenFile;
  std::optional<std::string> metadir;
  bool restart = false;
  bool headless = false;
};

// A parsed command line: the options, or what was wrong with it (one line
// naming the offending word; the options are then not to be used at all).
struct ParsedCommandLine {
  CommandLineOptions options;
  std::string error;
  bool Ok() const { return error.empty(); }
};

// Parses argv (argv[0] included) with getopt_long, silently: every mistake
// (an unknown option, a missing value, a word that is not an option, a port
// that is not a whole number in 1..65535) comes back as the error. Uses
// getopt's process-wide state: main thread only.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The usage text of --help.
std::string UsageText();

// Everything that must happen before the service may touch a profile:
// --help and --version are answered on `out`, a rejected command line is
// reported on `err` in one line plus a pointer to --help. Returns the exit
// status then, or nothing when the service is to start.
std::optional<int> AnswerWithoutStarting(const ParsedCommandLine& parsed, std::ostream& out, std::ostream& err);

inline constexpr int kExitUsage = 2;

}  // namespace morvex::service
