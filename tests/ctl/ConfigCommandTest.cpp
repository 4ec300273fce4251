#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "config/KelmConfig.h"
#include "ctl/Commands.h"
#include "ctl/CtlClient.h"
#include "ctl/SavedProfile.h"
#include "protocol/SslUtils.h"
#include "store/ContentProvider.h"
#include "support/TempDir.h"

namespace morvex::ctl {
namespace {

// A device's database as the service leaves it, closed for morvexctl to
// open read-only. No service runs: a value refused here never leaves the
// client.
class ConfigCommandTest : public test_support::SavedProfileTest {
 protected:
  void SetUp() override {
    SaveIdentity([](config::CKelmConfigManager& config) {
      config.SetRoutePort(9527);
      config.SetPubPort(9526);
      config.SetBroadcastPort(8848);
      config.SetSyncInterval(120);
    });
    CloseStore();
  }
  int Run(const std::vector<std::string>& words, std::string& out, std::string& err) { return RunCtl(words, out, err); }
};

TEST_F(ConfigCommandTest, GetShowsEverySettingButNeverThePassword) {
  std::string out, err;
  ASSERT_EQ(Run({"--json", "config", "get"}, out, err), kExitOk) << err;
  EXPECT_EQ(out,
            "{\"name\": \"here\", \"password\": \"not set\", \"port\": 9527, \"broadcast-port\": 8848, "
            "\"publish-port\": 9526, \"sync-interval\": 120}\n");
  ASSERT_EQ(Run({"config", "get", "publish-port"}, out, err), kExitOk) << err;
  EXPECT_EQ(out, "9526\n");
  ASSERT_EQ(Run({"config", "get"}, out, err), kExitOk) << err;
  EXPECT_NE(out.find("sync-interval   120\n"), std::string::npos) << out;
}

TEST_F(ConfigCommandTest, MistakesAreUsageErrorsNamingTheValue) {
  struct Case {
    std::vector<std::string> words;
    const char* named;  // in the one line on standard error
  };
  const std::vector<Case> cases = {
      {{"config", "set", "colour", "blue"}, "'colour'"},
      {{"config", "get", "colour"}, "'colour'"},
      {{"config", "set", "port", "abc"}, "'abc'"},
      {{"config", "set", "port", "0"}, "'0'"},
      {{"config", "set", "broadcast-port", "65536"}, "'65536'"},
      {{"config", "set", "publish-port", "9527"}, "port 9527"},
      {{"config", "set", "port", "8848"}, "port 8848"},
      {{"config", "set", "sync-interval", "-1"}, "'-1'"},
      {{"config", "set", "name", ""}, "name"},
      {{"config", "set", "name", std::string(65, 'n')}, "too long"},
      {{"config", "set", "password", ""}, "password"},
      {{"config", "set", "name"}, "'config set'"},
      {{"config", "unset", "name"}, "'unset'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words[2]);
    std::string out, err;
    EXPECT_EQ(Run(c.words, out, err), kExitUsage);
    EXPECT_NE(err.find(c.named), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
}

}  // namespace
}  // namespace morvex::ctl
