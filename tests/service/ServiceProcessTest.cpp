#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "service/MorvexService.h"
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
  auto service = Start();
  ASSERT_TRUE(WaitFor([&] { return LogHasCount("Morvex is running", 1); }, 10s)) << ReadFile(StderrPath("a"));
  ASSERT_TRUE(service->Signal(SIGTERM));
  EXPECT_EQ(service->WaitExit(5s), 0);
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
}

TEST_F(ServiceProcessTest, AFirstHeadlessStartWithoutPasswordExitsWithStatusTwo) {
  ServiceProcess service(netns_->Name(), {BinaryPath("morvex"), "--headless", "-m", metadir_.Path()}, StderrPath("a"));
  EXPECT_EQ(service.WaitExit(10s), 2);
  EXPECT_NE(ReadFile(StderrPath("a")).find("first start needs a sync password: -t PASSWORD"), std::string::npos);
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
