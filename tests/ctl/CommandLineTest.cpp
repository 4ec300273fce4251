#include "ctl/CommandContext.h"
#include "ctl/Commands.h"
#include "ctl/Help.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace morvex::ctl {
namespace {

std::string TempPath(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunWords(const std::vector<std::string>& words) {
  std::vector<std::string> arguments = {"morvexctl", "-m", TempPath("morvex-ctl-test-no-such-metadir")};
  arguments.insert(arguments.end(), words.begin(), words.end());
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunCommandLine(arguments, out, err);
  return {status, out.str(), err.str()};
}

std::string Shown(const std::vector<std::string>& words) {
  std::string shown;
  for (const auto& word : words) shown += word + " ";
  return shown;
}

// The shape of a command line is checked before anything is read or sent:
// a wrong one exits 2 with one line that names what was wrong and where
// help is, and prints nothing on standard output. A right one with no
// device behind its metadir gets as far as reading the identity and exits
// 1. No service is started or reached.
TEST(RunCommandLine, ExitStatusFollowsTheShapeOfTheCommandLine) {
  struct Case {
    std::vector<std::string> words;
    int status;
    std::string named = {};  // what the usage line must name
  };
  const Case cases[] = {
      {{}, kExitUsage, "no command"},
      {{"no-such-command"}, kExitUsage, "unknown command 'no-such-command'"},
      {{"folders", "x"}, kExitUsage, "'folders' takes no 'x'"},
      {{"folder"}, kExitUsage, "'folder' needs more arguments"},
      {{"folder", "frob", "x"}, kExitUsage, "'folder' has no 'frob'"},
      {{"trust", "request"}, kExitUsage, "'trust request' needs more arguments"},
      {{"trust", "adopt", "dev"}, kExitUsage, "'adopt'"},
      {{"link", "dev", "remote"}, kExitUsage, "'link' needs more arguments"},
      {{"sync-now", "x", "y"}, kExitUsage, "'sync-now' takes no 'y'"},
      {{"syncs", "--bogus"}, kExitUsage, "unknown option '--bogus'"},
      {{"id", "--follow"}, kExitUsage, "'id' takes no '--follow'"},
      {{"-x", "id"}, kExitUsage, "unknown option '-x'"},
      {{"--timeout", "0", "wait"}, kExitUsage, "not '0'"},
      {{"--timeout", "-5", "wait"}, kExitUsage, "not '-5'"},
      {{"--timeout", "5s", "wait"}, kExitUsage, "not '5s'"},
      {{"--timeout", "99999999999", "wait"}, kExitUsage, "not '99999999999'"},
      {{"wait", "--timeout"}, kExitUsage, "'--timeout' needs a value"},
      {{"-m"}, kExitUsage, "'-m' needs a value"},
      {{"help", "frob"}, kExitUsage, "'frob'"},
      {{"help", "trust", "request"}, kExitUsage, "'help' takes no 'request'"},
      {{"id"}, kExitServiceError},
      {{"devices"}, kExitServiceError},
      {{"trust", "request", "dev", "--timeout", "10"}, kExitServiceError},  // options after the words too
      {{"sync-now"}, kExitServiceError},
      {{"wait", "/some/folder"}, kExitServiceError},
  };
  for (const Case& c : cases) {
    const Outcome run = RunWords(c.words);
    const std::string shown = Shown(c.words);
    EXPECT_EQ(run.status, c.status) << shown << run.err;
    EXPECT_EQ(run.out, "") << shown;
    ASSERT_FALSE(run.err.empty()) << shown;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << shown << run.err;  // one line
    EXPECT_EQ(run.err.find("see 'morvexctl --help'") != std::string::npos, c.status == kExitUsage) << shown << run.err;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << shown << run.err;
  }
}

// Help asked for is an answer, not a mistake: standard output, exit 0,
// and nothing is read.
TEST(RunCommandLine, HelpGoesToStandardOutput) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--help"}, "exit statuses:"},
      {{"-h"}, "exit statuses:"},
      {{"help"}, "exit statuses:"},
      {{"folders", "--help"}, "Lists this device's sync folders"},
      {{"help", "trust"}, "morvexctl trust accept DEVICE"},
      {{"trust", "-h"}, "morvexctl trust revoke DEVICE"},
      {{"help", "wait"}, "Exit 4"},
  };
  for (const auto& [words, expected] : cases) {
    const Outcome run = RunWords(words);
    EXPECT_EQ(run.status, kExitOk) << Shown(words) << run.err;
    EXPECT_EQ(run.err, "") << Shown(words);
    EXPECT_EQ(run.out.rfind("usage: morvexctl", 0), 0u) << Shown(words) << run.out;
    EXPECT_NE(run.out.find(expected), std::string::npos) << Shown(words) << run.out;
  }
}

// With --json a failure is also one JSON object on standard output, its
// kind named as the exit status is.
TEST(RunCommandLine, JsonFailuresAreOneObjectOnStandardOutput) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--json", "no-such-command"}, "{\"error\": \"usage\", \"status\": 2, \"message\": \"morvexctl: unknown command"},
      {{"devices", "--json"}, "{\"error\": \"refused\", \"status\": 1, \"message\": \"cannot open "},
  };
  for (const auto& [words, expected] : cases) {
    const Outcome run = RunWords(words);
    EXPECT_EQ(run.out.rfind(expected, 0), 0u) << Shown(words) << run.out;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
    EXPECT_NE(run.err, "") << Shown(words);
  }
}

// Every exit status is explained where users look for it.
TEST(FullUsage, ExplainsEveryExitStatusAndPairState) {
  const std::string usage = FullUsage();
  for (const char* line : {"  0  done", "  1  refused", "  2  usage", "  3  the local Morvex service did not answer",
                           "  4  timeout", "  5  the peer did not answer", "PAIR  trusted", "WAIT  this device asked",
                           "ACK   it asked this device", "NONE  no trust"}) {
    EXPECT_NE(usage.find(line), std::string::npos) << line;
  }
  for (const char* command : {"id", "devices", "trust", "folders", "folder", "remote-folders", "remote-roots",
                              "remote-ls", "remote-folder", "link", "unlink", "syncs", "sync-now", "rescan",
                              "status", "wait", "help"}) {
    EXPECT_TRUE(CommandUsage(command).has_value()) << command;
  }
}

// Help lines fit the terminal in both scripts: English breaks at spaces,
// Chinese (no spaces, two columns a character) between characters.
TEST(WrapText, BreaksAtSpacesOrBetweenWideCharactersWithinTheWidth) {
  struct Case {
    const char* text;
    size_t width;
    const char* wrapped;
  };
  const Case cases[] = {
      {"one two three four", 12, "  one two\n  three four\n"},
      {"averyveryverylongword x", 8, "  averyveryverylongword\n  x\n"},  // a long word stays whole
      {"同步目录已经删除", 10, "  同步目录\n  已经删除\n"},              // 2 + 4 x 2 columns
      {"运行 'morvexctl status' 查看", 20, "  运行 'morvexctl\n  status' 查看\n"},
      {"请运行morvexctl", 14, "  请运行\n  morvexctl\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(WrapText(c.text, "  ", c.width), c.wrapped) << c.text;
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
