#include "store/ContentProvider.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "store/ContentResolver.h"
#include "store/ObserverHelpers.h"
#include "store/StoreFixture.h"
#include "support/LogCapture.h"

namespace morvex::store {
namespace {

class ContentProviderTest : public StoreFixture {};

TEST_F(ContentProviderTest, UriTablesAndTheReadOnlyView) {
  EXPECT_EQ(uris::DeviceTTL().GetUriString(), "content://ContentProvider/DeviceTTL");
  EXPECT_EQ(uris::DeviceTTL().Table(), "DeviceTTL");
  EXPECT_EQ(CUri("content", kAuthority, "/Devices").Table(), "");
  EXPECT_EQ(CUri("content", kAuthority, "/File/12").Table(), "File");
  EXPECT_EQ(CUri("content", kAuthority, "/File/12").GetLastPathSegment(), "12");

  test::LogCapture log;
  CContentValues values;
  values.PutInt("tree_id", 1);
  EXPECT_EQ(Resolver().Insert(uris::SyncDir(), values, kConflictNone), -1);
  EXPECT_TRUE(log.Has(google::GLOG_ERROR, "Unsupported Uri: content://ContentProvider/SyncDir"));
  EXPECT_EQ(Resolver().Delete(uris::SyncDir(), CSelection()), -1);
  EXPECT_EQ(Count(uris::SyncDir()), 0);  // reading the view is fine
}

TEST_F(ContentProviderTest, SingleValueQueries) {
  ASSERT_TRUE(Db().Exec("INSERT INTO Config VALUES ('DeviceName', 'box')"));
  EXPECT_EQ(Resolver().QueryInt(uris::Config(), "COUNT(*)", -1, CSelection("name = ? ").AddString("DeviceName")), 1);
  // NULL reads 0
  EXPECT_EQ(Resolver().QueryInt(uris::VCUuid(), "MAX(clock_index)", -1, CSelection("tree_id = ? ").AddInt(5)), 0);
  EXPECT_EQ(Resolver().QueryInt(uris::Config(), "value", -1, CSelection("name = 'none'")), -1);
  std::string name;
  EXPECT_TRUE(Resolver().QueryString(uris::Config(), "value", name, CSelection("name = ? ").AddString("DeviceName")));
  EXPECT_EQ(name, "box");
  EXPECT_EQ(Resolver().QueryWString(uris::Config(), "value", CSelection("name = 'DeviceName'")), u"box");
  EXPECT_FALSE(Resolver().QueryStringDup(uris::Config(), "value", CSelection("name = 'none'")));
  EXPECT_FALSE(Resolver().QueryStringDup(uris::Config(), "no_such_column", CSelection()));  // does not prepare
}

TEST_F(ContentProviderTest, WritesNotifyExactAndPrefixObserversOnlyWhenRowsChange) {
  CountingObserver exactTtl;
  CountingObserver deviceFamily;
  CountingObserver exactDevice;
  Resolver().RegisterObserver(uris::DeviceTTL(), false, &exactTtl);
  Resolver().RegisterObserver(uris::Device(), true, &deviceFamily);
  Resolver().RegisterObserver(uris::Device(), false, &exactDevice);

  CContentValues ttl;
  ttl.PutInt("ttl", 2);
  EXPECT_EQ(Resolver().Update(uris::DeviceTTL(), ttl, CSelection("id = 42")), 0);  // nothing changed: nobody told
  EXPECT_EQ(exactTtl.changes + deviceFamily.changes, 0);

  ASSERT_TRUE(Db().Exec("INSERT INTO Device (id, uuid) VALUES (42, 'd42')"));  // its TTL row comes with it
  EXPECT_EQ(Resolver().Update(uris::DeviceTTL(), ttl, CSelection("id = 42")), 1);
  EXPECT_EQ(exactTtl.changes, 1);
  EXPECT_EQ(deviceFamily.changes, 1);  // "/Device" is a prefix of "/DeviceTTL"
  EXPECT_EQ(exactDevice.changes, 0);

  for (auto* observer : {&exactTtl, &deviceFamily, &exactDevice}) {
    Resolver().UnregisterObserver(observer == &exactTtl ? uris::DeviceTTL() : uris::Device(), observer);
  }
}

TEST(ContentFramework, InitFailureCleansUpAndReportsWhy) {
  test::TempDir dir;
  test::WriteFile(dir / "Morvex", "not a folder");
  EXPECT_FALSE(InitContentFramework(dir.Path()));
  EXPECT_NE(MainProvider().InitError().find("Morvex"), std::string::npos);
  EXPECT_FALSE(MainProvider().Database().IsOpen());
}

// A client beside the service reads the service's file as it is and can
// change nothing in it; a metadir without a database is not created.
TEST(ContentFramework, AReadOnlyOpenReadsAndCannotWrite) {
  test::TempDir dir;
  ASSERT_TRUE(InitContentFramework(dir.Path()));
  ASSERT_TRUE(MainProvider().Database().Exec("INSERT INTO Config VALUES ('DeviceName', 'box')"));
  ShutdownContentFramework();

  ASSERT_TRUE(InitContentFrameworkReadOnly(dir.Path())) << MainProvider().InitError();
  std::string name;
  EXPECT_TRUE(CContentResolver::Instance().QueryString(uris::Config(), "value", name,
                                                       CSelection("name = ? ").AddString("DeviceName")));
  EXPECT_EQ(name, "box");
  {
    test::LogCapture log;
    CContentValues values;
    values.PutString("name", "Other").PutString("value", "x");
    EXPECT_EQ(CContentResolver::Instance().Insert(uris::Config(), values, kConflictNone), -1);
  }
  ShutdownContentFramework();

  test::TempDir empty;
  EXPECT_FALSE(InitContentFrameworkReadOnly(empty.Path()));
  EXPECT_NE(MainProvider().InitError().find("unable to open"), std::string::npos) << MainProvider().InitError();
  EXPECT_FALSE(std::filesystem::exists(empty / "Morvex"));
}

}  // namespace
}  // namespace morvex::store
