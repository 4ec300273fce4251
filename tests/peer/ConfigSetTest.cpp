#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ConfigKeys.h"
#include "peer/PeerFixture.h"

namespace morvex::peer {
namespace {

namespace uris = store::uris;
namespace keys = config::keys;

class ConfigSetTest : public PeerFixture {
 protected:
  // The error code of the answer to setting `key` to `value`, 0 for success.
  int Set(const std::string& key, const std::string& value) {
    qo::MsgLinuxConfigSetRequest set;
    set.set_key(key);
    set.set_value(value);
    int code = 0;
    std::string body;
    EXPECT_EQ(Ask(qo::MC_LINUX_CONFIG_SET_REQUEST, &set, code, body), 0);
    if (code != qo::MC_ERROR) return 0;
    qo::MsgError error;
    error.ParseFromString(body);
    return error.errcode();
  }
  std::string Stored(const char* name) {
    std::string value;
    Resolver().QueryString(uris::Config(), "value", value, store::CSelection("name = ? ").AddString(name));
    return value;
  }
  std::string OwnRow(const char* column) {
    std::string value;
    Resolver().QueryString(uris::Device(), column, value,
                           store::CSelection("uuid = ? ").AddString(config_.Snapshot()->deviceUuid));
    return value;
  }
};

TEST_F(ConfigSetTest, EachSettingIsStoredWithTheOwnDeviceRow) {
  StartRouter();
  struct Case {
    const char* key;
    const char* value;
    const char* configKey;
    const char* deviceColumn;  // null: the Device row is not touched
    const char* deviceValue;
  };
  const std::vector<Case> cases = {
      {"name", "renamed", keys::kDeviceName, "name", "renamed"},
      {"password", "new secret", keys::kToken, nullptr, nullptr},
      {"broadcast-port", "8850", keys::kBroadcastPort, nullptr, nullptr},
      {"publish-port", "9536", keys::kPubPort, "pub_uri", "tcp://localhost:9536"},
      {"sync-interval", "60", keys::kSyncInterval, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    ASSERT_EQ(Set(c.key, c.value), 0);
    EXPECT_EQ(Stored(c.configKey), c.value);
    if (c.deviceColumn != nullptr) {
      EXPECT_EQ(OwnRow(c.deviceColumn), c.deviceValue);
    }
  }
  // What 'config get' reads afterwards.
  config_.Load();
  const auto after = config_.Snapshot();
  EXPECT_EQ(after->deviceName, "renamed");
  EXPECT_EQ(after->token, "new secret");
  EXPECT_EQ(after->broadcastPort, 8850);
  EXPECT_EQ(after->pubPort, 9536);
  EXPECT_EQ(after->syncInterval, 60);
}

// The router follows Config: the service answers on the new port at once.
TEST_F(ConfigSetTest, ANewRoutePortIsServedAtOnce) {
  StartRouter();
  ASSERT_EQ(Set("port", "9600"), 0);
  EXPECT_EQ(OwnRow("route_uri"), "tcp://localhost:9600");
  config_.Load();
  ASSERT_EQ(config_.Snapshot()->routePort, 9600);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // rebinding
  EXPECT_EQ(Set("name", "after-move"), 0);
  EXPECT_EQ(Stored(keys::kDeviceName), "after-move");
}

TEST_F(ConfigSetTest, InvalidValuesAndClashingPortsAreRefused) {
  StartRouter();
  const auto before = config_.Snapshot();
  struct Case {
    const char* key;
    std::string value;
    int error;
  };
  const std::vector<Case> cases = {
      {"colour", "blue", qo::ZE_BAD_FORMAT},
      {"port", "0", qo::ZE_BAD_FORMAT},
      {"port", "70000", qo::ZE_BAD_FORMAT},
      {"publish-port", "12x", qo::ZE_BAD_FORMAT},
      {"sync-interval", "-5", qo::ZE_BAD_FORMAT},
      {"name", "", qo::ZE_BAD_FORMAT},
      {"name", std::string(65, 'n'), qo::ZE_BAD_FORMAT},
      {"password", "", qo::ZE_BAD_FORMAT},
      {"publish-port", std::to_string(before->routePort), qo::ZE_EXIST},
      {"broadcast-port", std::to_string(before->pubPort), qo::ZE_EXIST},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    EXPECT_EQ(Set(c.key, c.value), c.error);
  }
  EXPECT_EQ(Stored(keys::kDeviceName), "self");
  EXPECT_EQ(Stored(keys::kPubPort), std::to_string(before->pubPort));
}

}  // namespace
}  // namespace morvex::peer
