#include "device/DeviceQueries.h"

#include <gtest/gtest.h>

#include "store/StoreFixture.h"

namespace morvex::device {
namespace {

class DeviceQueriesTest : public store::StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    ASSERT_TRUE(Db().Exec(
        "INSERT INTO Device (uuid, name, route_uri, pub_uri, trust, online) VALUES "
        "('aa-own', 'own', 'tcp://10.0.0.1:9527', 'tcp://10.0.0.1:9526', 1, 1), "
        "('ab-friend', 'friend', 'tcp://10.0.0.2:9527', 'tcp://10.0.0.2:9526', 1, 1), "
        "('bc-stranger', 'stranger', 'tcp://10.0.0.3:9527', 'tcp://10.0.0.3:9526', 0, 1), "
        "('cd-away', 'away', '', '', 1, 0)"));
  }
};

TEST_F(DeviceQueriesTest, LookupsByUuidTable) {
  struct Case {
    const char* uuid;
    const char* route;
    bool online;
    const char* name;  // nullptr: unknown
  };
  const Case cases[] = {
      {"ab-friend", "tcp://10.0.0.2:9527", true, "friend"},
      {"bc-stranger", "tcp://10.0.0.3:9527", true, "stranger"},
      {"cd-away", "", false, "away"},
      {"zz-unknown", "", false, nullptr},
      {"ab-%", "", false, nullptr},  // the UUID is bound, never a pattern
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uuid);
    EXPECT_EQ(RouteUri(c.uuid), c.route);
    EXPECT_EQ(IsOnline(c.uuid), c.online);
    EXPECT_EQ(DeviceKnown(c.uuid), c.name != nullptr);
    std::string name = "untouched";
    EXPECT_EQ(DeviceName(c.uuid, name), c.name != nullptr);
    EXPECT_EQ(name, c.name ? c.name : "untouched");
  }
}

TEST_F(DeviceQueriesTest, ListsAndChanges) {
  std::vector<std::string> online;
  for (const OnlineDevice& device : OnlineDevices()) online.push_back(device.uuid + (device.trusted ? "+" : "-"));
  EXPECT_EQ(online, (std::vector<std::string>{"aa-own+", "ab-friend+", "bc-stranger-"}));
  std::vector<std::string> trusted;
  for (const CDevice& device : TrustedOnlineDevices()) trusted.push_back(device.uuid);
  EXPECT_EQ(trusted, (std::vector<std::string>{"aa-own", "ab-friend"}));
  EXPECT_EQ(UuidsStartingWith("a"), (std::vector<std::string>{"aa-own", "ab-friend"}));
  EXPECT_EQ(CDevice::LoadAll().size(), 4u);

  MarkOffline("ab-friend");
  EXPECT_FALSE(IsOnline("ab-friend"));
  MarkOnline("ab-friend");
  EXPECT_TRUE(IsOnline("ab-friend"));
  MarkOnline("no-such-device");
  EXPECT_FALSE(DeviceKnown("no-such-device"));
  MarkOffline("ab-friend");
  EXPECT_TRUE(DeleteDevice("cd-away"));
  EXPECT_FALSE(DeleteDevice("cd-away"));

  for (int tick = 0; tick < 3; ++tick) AgeDevices("aa-own");  // a new row starts at ttl 3
  EXPECT_FALSE(DeviceKnown("bc-stranger"));
  EXPECT_TRUE(IsOnline("aa-own"));
  EXPECT_EQ(Count(store::uris::Device()), 2);

  store::COperationList batch;
  ForgetOtherDevices(batch, "aa-own");
  Resolver().ApplyBatch(store::kAuthority, batch);
  EXPECT_EQ(UuidsStartingWith(""), std::vector<std::string>{"aa-own"});
  DeleteAllDevices();
  EXPECT_EQ(Count(store::uris::Device()), 0);
}

TEST_F(DeviceQueriesTest, TheDeviceListShowsOnlineThenTrustedThenByName) {
  ASSERT_TRUE(Db().Exec("INSERT INTO Device (uuid, name, route_uri, type, trust, online) VALUES "
                        "('de-gone', 'Alpha', '', 7, 0, 0)"));
  std::vector<std::string> order;
  for (const ListedDevice& device : ReadDeviceList(QueryDeviceList().get())) {
    order.push_back(device.name + (device.trusted ? "+" : "-") + (device.online ? "on" : "off"));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"friend+on", "own+on", "stranger-on", "away+off", "Alpha-off"}));
  const ListedDevice last = ReadDeviceList(QueryDeviceList().get()).back();
  EXPECT_EQ(last.uuid, "de-gone");
  EXPECT_EQ(last.type, 7);
  EXPECT_TRUE(ReadDeviceList(nullptr).empty());
}

}  // namespace
}  // namespace morvex::device
