#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "core/LogFiles.h"
#include "service/MorvexService.h"
#include "service/TokenSource.h"
#include "support/ServiceProcess.h"
#include "support/TempDir.h"
#include "support/TestNetns.h"

namespace morvex::test {
namespace {

using namespace std::chrono_literals;

// The real `morvex` binary, run inside a network namespace of the test's
// own, with a fresh metadir.
class ServiceProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestNetns::Available()) GTEST_SKIP() << "needs root and iproute2 for a test network namespace";
    netns_ = std::make_unique<TestNetns>();
    ASSERT_TRUE(netns_->Ok());
  }

  std::unique_ptr<ServiceProcess> Start(const std::vector<std::string>& extra = {}, const std::string& tag = "a") {
    std::vector<std::string> arguments = {BinaryPath("morvex"), "--headless", "-t", "test-password", "-m", metadir_.Path()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return std::make_unique<ServiceProcess>(netns_->Name(), arguments, StderrPath(tag));
  }
  std::string StderrPath(const std::string& tag) const { return metadir_ / ("stderr-" + tag); }
  // Every log line of every run so far.
  std::string Logs() const {
    std::string all;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(metadir_ / "Morvex", missing)) {
      if (entry.path().extension() == ".log" || entry.path().string().find(".log.") != std::string::npos) {
        all += ReadFile(entry.path());
      }
    }
    return all;
  }
  bool LogHasCount(const std::string& text, size_t count) const {
    const std::string logs = Logs();
    size_t found = 0;
    for (size_t at = logs.find(text); at != std::string::npos; at = logs.find(text, at + 1)) ++found;
    return found >= count;
  }

  TempDir metadir_;
  std::unique_ptr<TestNetns> netns_;
};

TEST_F(ServiceProcessTest, StartsAndShutsDownCleanlyOnSigterm) {
  const std::string day = core::DailyLogFileName(std::time(nullptr));
  auto service = Start();
  ASSERT_TRUE(WaitFor([&] { return LogHasCount("Morvex is running", 1); }, 10s)) << ReadFile(StderrPath("a"));
  ASSERT_TRUE(service->Signal(SIGTERM));
  EXPECT_EQ(service->WaitExit(5s), 0);
  // The one line on standard output says where the profile and the log are.
  const std::string printed = ReadFile(StderrPath("a"));
  EXPECT_NE(printed.find("Morvex running as "), std::string::npos) << printed;
  EXPECT_NE(printed.find("profile " + metadir_ / "Morvex"), std::string::npos) << printed;
  if (day == core::DailyLogFileName(std::time(nullptr))) {
    EXPECT_NE(printed.find("log " + metadir_ / ("Morvex/" + day)), std::string::npos) << printed;
  }
  const std::string logs = Logs();
  EXPECT_NE(logs.find("Initializing Morvex..."), std::string::npos);
  EXPECT_NE(logs.find("Exiting Morvex."), std::string::npos);
  struct stat info {};
  ASSERT_EQ(::stat((metadir_ / "Morvex/Morvex.db").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ServiceProcessTest, ASecondInstanceIsRefusedAndARestartWaitsForTheFirst) {
  auto first = Start();
  ASSERT_TRUE(WaitFor([&] { return LogHasCount("Morvex is running", 1); }, 10s));

  auto second = Start({}, "b");
  const auto status = second->WaitExit(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_NE(ReadFile(StderrPath("b")).find(service::kTextAlreadyRunning), std::string::npos);
  EXPECT_TRUE(first->Running());

  auto restarted = Start({"--restart"}, "c");
  ASSERT_TRUE(WaitFor([&] { return LogHasCount("Restart option detected", 1); }, 10s));
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(restarted->Running());
  EXPECT_FALSE(LogHasCount("Morvex is running", 2));  // still waiting for the lock

  ASSERT_TRUE(first->Signal(SIGTERM));
  EXPECT_EQ(first->WaitExit(5s), 0);
  EXPECT_TRUE(WaitFor([&] { return LogHasCount("Morvex is running", 2); }, 10s));
  ASSERT_TRUE(restarted->Signal(SIGINT));
  EXPECT_EQ(restarted->WaitExit(5s), 0);
  // Three starts, one day: one log file, written by all of them.
  size_t logFiles = 0;
  for (const auto& entry : std::filesystem::directory_iterator(metadir_ / "Morvex")) {
    logFiles += entry.path().extension() == ".log" ? 1 : 0;
  }
  EXPECT_LE(logFiles, 2u);  // two only when the day changed meanwhile
  EXPECT_TRUE(LogHasCount("Initializing Morvex...", 3));
}

// --help, --version and a command line that is refused end the program
// before it makes or touches anything of the profile.
TEST_F(ServiceProcessTest, AnswersAndRefusalsLeaveNoProfile) {
  const std::string looseFile = metadir_ / "loose-password";
  WriteFile(looseFile, "pw\n");
  ASSERT_EQ(::chmod(looseFile.c_str(), 0644), 0);
  const std::string profile = metadir_ / "profile";
  struct Case {
    std::vector<std::string> words;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{"--help"}, 0, "Usage: morvex"},
      {{"--version"}, 0, "morvex " MORVEX_TEST_VERSION "\n"},
      {{"-t", "correct", "horse"}, 2, "see 'morvex --help'"},
      {{"-t", "pw", "-r", "99999"}, 2, "invalid port '99999'"},
      {{"-t", "pw", "-p", "abc"}, 2, "invalid port 'abc'"},
      {{"--token-file", looseFile}, 2, "chmod 600"},
  };
  int run = 0;
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {BinaryPath("morvex"), "--headless", "-m", profile};
    arguments.insert(arguments.end(), c.words.begin(), c.words.end());
    const std::string output = StderrPath("answer" + std::to_string(run++));
    ServiceProcess service(netns_->Name(), arguments, output);
    EXPECT_EQ(service.WaitExit(10s), c.status) << c.words.back();
    EXPECT_NE(ReadFile(output).find(c.says), std::string::npos) << ReadFile(output);
    EXPECT_FALSE(std::filesystem::exists(profile)) << c.words.back();
  }
}

// The password off the command line: from a private file, or from the
// environment, a first start succeeds without -t.
TEST_F(ServiceProcessTest, AFirstStartTakesThePasswordFromAFileOrTheEnvironment) {
  const std::string file = metadir_ / "password";
  WriteFile(file, "from-file\n");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  const std::vector<std::vector<std::string>> sources = {{"--token-file", file}, {}};
  int run = 0;
  for (const auto& source : sources) {
    const std::string profile = metadir_ / ("p" + std::to_string(run));
    std::vector<std::string> arguments = {BinaryPath("morvex"), "--headless", "-m", profile};
    arguments.insert(arguments.end(), source.begin(), source.end());
    const std::string output = StderrPath("run" + std::to_string(run++));
    if (source.empty()) ::setenv(service::kTokenEnvironment, "from-environment", 1);
    ServiceProcess service(netns_->Name(), arguments, output);
    ::unsetenv(service::kTokenEnvironment);
    const bool running =
        WaitFor([&] { return ReadFile(output).find("Morvex running as") != std::string::npos; }, 10s);
    EXPECT_TRUE(running) << ReadFile(output);
    ASSERT_TRUE(service.Signal(SIGTERM));
    EXPECT_EQ(service.WaitExit(5s), 0);
  }
}

TEST_F(ServiceProcessTest, AFirstHeadlessStartWithoutPasswordExitsWithStatusTwo) {
  ServiceProcess service(netns_->Name(), {BinaryPath("morvex"), "--headless", "-m", metadir_.Path()}, StderrPath("a"));
  EXPECT_EQ(service.WaitExit(10s), 2);
  EXPECT_NE(ReadFile(StderrPath("a")).find(service::kTextNeedToken), std::string::npos);
}

TEST_F(ServiceProcessTest, ACorruptDatabaseFailsTheStartAndIsKept) {
  ASSERT_EQ(::mkdir((metadir_ / "Morvex").c_str(), 0700), 0);
  const std::string garbage(8192, '\x5a');
  WriteFile(metadir_ / "Morvex/Morvex.db", garbage);
  auto service = Start();
  const auto status = service->WaitExit(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_NE(ReadFile(StderrPath("a")).find("database init fail"), std::string::npos);
  EXPECT_EQ(ReadFile(metadir_ / "Morvex/Morvex.db"), garbage);
  EXPECT_NE(Logs().find("Exiting Morvex."), std::string::npos);
}

}  // namespace
}  // namespace morvex::test
