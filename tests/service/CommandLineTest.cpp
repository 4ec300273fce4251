#include "service/CommandLine.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace morvex::service {
namespace {

TEST(CommandLine, AcceptedLinesGiveTheirOptions) {
  struct Case {
    std::vector<std::string> words;
    std::function<bool(const CommandLineOptions&)> holds;
  };
  using O = const CommandLineOptions&;
  const Case cases[] = {
      {{"morvex"}, [](O o) { return o.action == CommandAction::kRun && !o.token && !o.routePort; }},
      {{"morvex", "-n", "Living room", "--headless"}, [](O o) { return o.name == "Living room" && o.headless; }},
      {{"morvex", "-t", "correct horse"}, [](O o) { return o.token == "correct horse"; }},
      {{"morvex", "--token-file", "/run/pw", "-y", "-c"},
       [](O o) { return o.tokenFile == "/run/pw" && o.yes && o.create; }},
      {{"morvex", "--route-port=9000", "-p", "65535", "--broad", "1"},  // a unique abbreviation
       [](O o) { return o.routePort == 9000 && o.pubPort == 65535 && o.broadcastPort == 1; }},
      {{"morvex", "-m", "/tmp/x", "--restart"}, [](O o) { return o.metadir == "/tmp/x" && o.restart; }},
      {{"morvex", "--help"}, [](O o) { return o.action == CommandAction::kHelp; }},
      {{"morvex", "-h", "-m", "/tmp/x"}, [](O o) { return o.action == CommandAction::kHelp; }},
      {{"morvex", "--version"}, [](O o) { return o.action == CommandAction::kVersion; }},
  };
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = ParseCommandLine(c.words);
    const std::string shown = testing::PrintToString(c.words);
    ASSERT_TRUE(parsed.Ok()) << shown << ": " << parsed.error;
    EXPECT_TRUE(c.holds(parsed.options)) << shown;
  }
}

TEST(CommandLine, MistakesAreRefusedNamingTheWord) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"morvex", "-t", "correct", "horse"}, "unexpected word 'horse'"},
      {{"morvex", "-t", "pw", "-r", "99999"}, "invalid port '99999' for -r/--route-port"},
      {{"morvex", "stray", "--headless"}, "unexpected word 'stray'"},
      {{"morvex", "--bogus"}, "unknown option --bogus"},
      {{"morvex", "--bogus=1"}, "unknown option --bogus"},
      {{"morvex", "-x"}, "unknown option -x"},
      {{"morvex", "-yz"}, "unknown option -z"},
      {{"morvex", "--r"}, "ambiguous option --r"},  // --restart or --route-port
      {{"morvex", "-n"}, "option -n needs a value"},
      {{"morvex", "--token-file"}, "option --token-file needs a value"},
      {{"morvex", "-r", "99999"}, "invalid port '99999' for -r/--route-port"},
      {{"morvex", "-p", "abc"}, "invalid port 'abc' for -p/--pub-port"},
      {{"morvex", "-p", "-1"}, "invalid port '-1'"},
      {{"morvex", "-b", "0"}, "invalid port '0' for -b/--broadcast-port"},
      {{"morvex", "-r", "80x"}, "invalid port '80x'"},
      {{"morvex", "-r", ""}, "invalid port ''"},
      {{"morvex", "-r", " 80"}, "invalid port ' 80'"},
  };
  for (const auto& [words, says] : cases) {
    const ParsedCommandLine parsed = ParseCommandLine(words);
    EXPECT_NE(parsed.error.find(says), std::string::npos) << testing::PrintToString(words) << ": " << parsed.error;
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
    EXPECT_FALSE(parsed.options.token) << "options of a refused line are dropped";
  }
}

TEST(CommandLine, HelpAndVersionAnswerOnStandardOutputAndMistakesInOneLine) {
  struct Case {
    std::vector<std::string> words;
    std::optional<int> status;
    const char* out;  // the start of standard output
    const char* err;  // all of standard error
  };
  const Case cases[] = {
      {{"morvex", "--help"}, 0, "Usage: morvex [OPTION]...\n", ""},
      {{"morvex", "-h"}, 0, "Usage: morvex [OPTION]...\n", ""},
      {{"morvex", "--version"}, 0, "morvex " MORVEX_TEST_VERSION "\n", ""},
      {{"morvex", "-p", "abc"}, 2, "",
       "morvex: invalid port 'abc' for -p/--pub-port: a number from 1 to 65535\nsee 'morvex --help'\n"},
      {{"morvex", "--headless", "-t", "pw"}, std::nullopt, "", ""},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(AnswerWithoutStarting(ParseCommandLine(c.words), out, err), c.status) << c.words.back();
    // An empty expectation means nothing at all was printed.
    if (*c.out == '\0') {
      EXPECT_EQ(out.str(), "");
    } else {
      EXPECT_EQ(out.str().rfind(c.out, 0), 0u) << out.str();
    }
    EXPECT_EQ(err.str(), c.err);
  }
  EXPECT_NE(UsageText().find("MORVEX_TOKEN"), std::string::npos);
}

}  // namespace
}  // namespace morvex::service
