#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvex::service {

// The service's options as given; applying them to the configuration is the
// device identity set-up's work.
struct CommandLineOptions {
  bool create = false;
  bool yes = false;  // --create confirmed without asking
  std::optional<std::string> name;
  std::optional<int64_t> routePort;
  std::optional<int64_t> pubPort;
  std::optional<int64_t> broadcastPort;
  std::optional<std::string> token;
  std::optional<std::string> metadir;
  bool restart = false;
  bool headless = false;
  std::vector<std::string> extraWords;  // non-option words, logged at start
};

// Parses argv (argv[0] included) with getopt_long. Unknown options are
// reported on standard error by getopt and otherwise ignored: parsing never
// fails.
CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace morvex::service
