#include "ctl/CommandContext.h"
#include "ctl/Commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace morvex::ctl {
namespace {

// The shape of a command line is checked before anything is read or sent:
// a wrong one exits 2 with the usage, and prints nothing on standard output.
// A right one with no device behind its metadir gets as far as reading the
// identity and exits 1. No service is started or reached.
TEST(RunCommandLine, ExitStatusFollowsTheShapeOfTheCommandLine) {
  const std::string missing = (std::filesystem::temp_directory_path() / "morvex-ctl-test-no-such-metadir").string();
  struct Case {
    std::vector<std::string> words;
    int status;
  };
  const Case cases[] = {
      {{}, kExitUsage},
      {{"no-such-command"}, kExitUsage},
      {{"folders", "x"}, kExitUsage},
      {{"folder"}, kExitUsage},
      {{"folder", "frob", "x"}, kExitUsage},
      {{"trust", "request"}, kExitUsage},
      {{"trust", "adopt", "dev"}, kExitUsage},
      {{"link", "dev", "remote"}, kExitUsage},
      {{"sync-now", "x", "y"}, kExitUsage},
      {{"syncs", "--bogus"}, kExitUsage},
      {{"--help"}, kExitUsage},
      {{"--timeout", "0", "wait"}, kExitUsage},
      {{"--timeout", "-5", "wait"}, kExitUsage},
      {{"-m"}, kExitUsage},
      {{"id"}, kExitServiceError},
      {{"--json", "devices"}, kExitServiceError},
      {{"trust", "request", "dev", "--timeout", "10"}, kExitServiceError},  // options after the words too
      {{"sync-now"}, kExitServiceError},
      {{"wait", "/some/folder"}, kExitServiceError},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"morvexctl", "-m", missing};
    arguments.insert(arguments.end(), c.words.begin(), c.words.end());
    std::ostringstream out;
    std::ostringstream err;
    std::string shown;
    for (const auto& word : c.words) shown += word + " ";
    EXPECT_EQ(RunCommandLine(arguments, out, err), c.status) << shown << err.str();
    EXPECT_EQ(out.str(), "") << shown;
    EXPECT_EQ(err.str().rfind("usage:", 0) == 0, c.status == kExitUsage) << shown << err.str();
  }
}

// Paths given on the command line are sent absolute and without trailing
// slashes, so the service compares them with the roots it stores.
TEST(AbsolutePath, MakesPathsAbsoluteAndPlain) {
  const std::string here = std::filesystem::current_path().string();
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"/", "/"},
      {"/srv/music", "/srv/music"},
      {"/srv/music/", "/srv/music"},
      {"/srv//music/./a/../b", "/srv/music/b"},
      {"music", here + "/music"},
      {"./music/", here + "/music"},
  };
  for (const auto& [given, sent] : cases) EXPECT_EQ(AbsolutePath(given), sent) << given;
}

}  // namespace
}  // namespace morvex::ctl
