#include "config/ConfigTable.h"

#include <gtest/gtest.h>

#include "config/ConfigKeys.h"
#include "store/ContentResolver.h"
#include "store/StoreFixture.h"

namespace morvex::config {
namespace {

class ConfigTableTest : public store::StoreFixture {};

// Each port falls back to its own default alone: a row set for one port
// must not drag the others away from theirs.
TEST_F(ConfigTableTest, StoredPortsTakeTheRowsThatExistAndDefaultsForTheRest) {
  StoredPorts ports = ReadStoredPorts();
  EXPECT_EQ(ports.broadcast, kDefaultBroadcastPort);
  EXPECT_EQ(ports.route, kDefaultRoutePort);
  EXPECT_EQ(ports.publish, kDefaultPubPort);

  store::CContentValues row;
  row.PutString("name", keys::kRoutePort).PutInt("value", 40000);
  Resolver().Insert(store::uris::Config(), row, store::kConflictReplace);
  ports = ReadStoredPorts();
  EXPECT_EQ(ports.broadcast, kDefaultBroadcastPort);
  EXPECT_EQ(ports.route, 40000);
  EXPECT_EQ(ports.publish, kDefaultPubPort);
}

// The reminder's two rows are read and written alone, each overwriting its
// row rather than adding one.
TEST_F(ConfigTableTest, FeedbackStateAndFirstTimeRoundTrip) {
  EXPECT_EQ(ReadFeedBackState(), "");
  EXPECT_EQ(ReadFirstTime(), 0);
  ASSERT_TRUE(StoreFeedBackState("first"));
  ASSERT_TRUE(StoreFeedBackState("Ok"));
  ASSERT_TRUE(StoreFirstTime(1700000000));
  EXPECT_EQ(ReadFeedBackState(), "Ok");
  EXPECT_EQ(ReadFirstTime(), 1700000000);
  EXPECT_EQ(Count(store::uris::Config(), "name = 'FeedBack'"), 1);
}

}  // namespace
}  // namespace morvex::config
