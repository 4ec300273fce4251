#include "config/Settings.h"

#include <gtest/gtest.h>

#include <string>

#include "config/ConfigKeys.h"
#include "store/ContentResolver.h"
#include "store/StoreFixture.h"

namespace morvex::config {
namespace {

using store::uris::Config;
using store::uris::Device;

class SettingsTest : public store::StoreFixture {
 protected:
  std::string ConfigValue(const char* key) {
    return Resolver().QueryStringDup(Config(), "value", store::CSelection("name = ? ").AddString(key)).value_or("-");
  }
  std::string OwnColumn(const char* column) {
    return Resolver().QueryStringDup(Device(), column, store::CSelection("uuid = ? ").AddString(kOwn)).value_or("-");
  }
  static constexpr const char* kOwn = "0d7c8a3e-1b2c-4d5e-8f60-123456789abc";
};

// Several settings land together, each with the rows StoreSetting gives it:
// the own row follows the name and the route port, and a setting not in
// the list keeps its row and its address.
TEST_F(SettingsTest, SeveralSettingsAreStoredInOneBatchWithTheOwnDeviceRow) {
  ASSERT_TRUE(Db().Exec("INSERT INTO Device (uuid, name, route_uri, pub_uri, trust) VALUES "
                        "('0d7c8a3e-1b2c-4d5e-8f60-123456789abc', 'old', 'tcp://localhost:9527', "
                        "'tcp://localhost:9526', 1)"));
  ASSERT_TRUE(StoreSetting(Setting::kPublishPort, "9526", kOwn));
  ASSERT_TRUE(StoreSettings({{Setting::kName, "Kitchen"}, {Setting::kPassword, "secret"}, {Setting::kPort, "40000"}},
                            kOwn));
  EXPECT_EQ(ConfigValue(keys::kDeviceName), "Kitchen");
  EXPECT_EQ(ConfigValue(keys::kToken), "secret");
  EXPECT_EQ(ConfigValue(keys::kRoutePort), "40000");
  EXPECT_EQ(ConfigValue(keys::kPubPort), "9526");
  EXPECT_EQ(ConfigValue(keys::kBroadcastPort), "-");
  EXPECT_EQ(OwnColumn("name"), "Kitchen");
  EXPECT_EQ(OwnColumn("route_uri"), "tcp://localhost:40000");
  EXPECT_EQ(OwnColumn("pub_uri"), "tcp://localhost:9526");
  EXPECT_TRUE(StoreSettings({}, kOwn));
}

}  // namespace
}  // namespace morvex::config
