#include "store/Schema.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "store/ContentProvider.h"
#include "store/StoreFixture.h"
#include "support/LogCapture.h"

namespace morvex::store {
namespace {

int CountRows(CSQLite& db, const std::string& sql) {
  StatementPtr statement = db.Prepare(sql);
  if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW) return -1;
  return sqlite3_column_int(statement.get(), 0);
}

class SchemaTest : public StoreFixture {};

TEST_F(SchemaTest, NewDatabaseHasTheWholeSchemaVersionTwoAndNoConfig) {
  const int objects = CountRows(Db(),
                                "SELECT COUNT(*) FROM sqlite_master WHERE name IN ('Device','DeviceTTL','Tree','Sync',"
                                "'File','VCUuid','Config','Usn','Event','SyncDir','PathIndex','DevTTLInsert',"
                                "'TreeDelete')");
  EXPECT_EQ(objects, 13);
  EXPECT_EQ(CountRows(Db(), "SELECT version FROM Version"), 2);
  EXPECT_EQ(CountRows(Db(), "SELECT COUNT(*) FROM Version"), 1);
  EXPECT_EQ(Count(uris::Config()), 0);
  struct stat info {};
  ASSERT_EQ(::stat(DbPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);  // it will hold the private key
}

TEST_F(SchemaTest, TriggersAndUniqueRoots) {
  CContentValues device;
  device.PutString("uuid", "d1").PutInt("trust", 0);
  const int64_t id = Resolver().Insert(uris::Device(), device, kConflictNone);
  ASSERT_GT(id, 0);
  EXPECT_EQ(Resolver().QueryInt(uris::DeviceTTL(), "ttl", -1, CSelection("id = ? ").AddInt64(id)), 3);

  CContentValues tree;
  tree.PutString("tree_uuid", "t1").PutString("tree_root", "/home/a/Docs");
  const int64_t treeId = Resolver().Insert(uris::Tree(), tree, kConflictNone);
  CContentValues file;
  file.PutInt64("tree_id", treeId).PutString("path", "/x");
  ASSERT_GT(Resolver().Insert(uris::File(), file, kConflictNone), 0);
  CContentValues sameRootOtherCase;
  sameRootOtherCase.PutString("tree_uuid", "t2").PutString("tree_root", "/home/a/docs");
  EXPECT_EQ(Resolver().Insert(uris::Tree(), sameRootOtherCase, kConflictNone), -1);

  Resolver().Delete(uris::Tree(), CSelection("id = ? ").AddInt64(treeId));
  EXPECT_EQ(Count(uris::File()), 0);
}

TEST_F(SchemaTest, ReopeningSchemaStates) {
  // Rows everywhere, then a reopen with the version row in each state.
  struct Case {
    const char* what;
    const char* versionSql;
    bool reset;
    bool withoutEvents = false;  // a version-1 file, before the event history
  };
  const Case cases[] = {
      {"current version", nullptr, false},
      // Version 1 had no event history: the step to 2 adds it and keeps the rest.
      {"version one", "UPDATE Version SET version = 1", false, true},
      {"no version row", "DELETE FROM Version", true},
      {"version zero", "UPDATE Version SET version = 0", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* sql : {"DELETE FROM Config", "DELETE FROM File", "DELETE FROM Usn", "DELETE FROM VCUuid",
                            "INSERT INTO Config VALUES ('DeviceName', 'box')",
                            "INSERT INTO File (tree_id, path) VALUES (1, '/a')",
                            "INSERT INTO Usn VALUES ('d', 7)", "INSERT INTO VCUuid VALUES (1, 'u', 1)"}) {
      ASSERT_TRUE(Db().Exec(sql)) << sql;
    }
    if (c.versionSql) {
      ASSERT_TRUE(Db().Exec(c.versionSql));
    }
    if (c.withoutEvents) {
      ASSERT_TRUE(Db().Exec("DROP TABLE Event"));
    }
    ShutdownContentFramework();
    ASSERT_TRUE(InitContentFramework(metadir_.Path()));
    EXPECT_EQ(Count(uris::Config()), c.reset ? 0 : 1);
    EXPECT_EQ(Count(uris::File()), c.reset ? 0 : 1);
    EXPECT_EQ(Count(uris::Usn()), 1);     // never dropped
    EXPECT_EQ(Count(uris::VCUuid()), 1);  // never dropped
    EXPECT_EQ(Count(uris::Event()), 0);
    EXPECT_EQ(CountRows(Db(), "SELECT version FROM Version"), 2);
  }
}

TEST(SchemaOpen, UnreadableDatabasesFailTheOpenAndAreLeftAlone) {
  test::LogCapture log;
  struct Case {
    const char* what;
    void (*prepare)(const std::string& dbPath);
  };
  const Case cases[] = {
      {"not a database", [](const std::string& p) { test::WriteFile(p, std::string(4096, 'x')); }},
      {"a directory", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0700), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir metadir;
    ASSERT_EQ(::mkdir((metadir / "Morvex").c_str(), 0700), 0);
    const std::string dbPath = metadir / "Morvex/Morvex.db";
    c.prepare(dbPath);
    const std::string before = test::ReadFile(dbPath);
    EXPECT_FALSE(InitContentFramework(metadir.Path()));
    EXPECT_NE(MainProvider().InitError().find("database init fail: " + dbPath), std::string::npos);
    EXPECT_EQ(test::ReadFile(dbPath), before);
  }
  EXPECT_TRUE(log.Has(google::GLOG_ERROR, "database init fail"));
}

TEST(SchemaOpen, WithoutTheCreationBatchDeletingADeviceKeepsItsTtlRow) {
  test::TempDir metadir;
  ASSERT_TRUE(InitContentFramework(metadir.Path()));
  ASSERT_TRUE(MainProvider().Database().Exec("INSERT INTO Device (uuid) VALUES ('d1')"));
  ShutdownContentFramework();
  ASSERT_TRUE(InitContentFramework(metadir.Path()));  // current schema: no statement, no foreign keys
  auto& db = MainProvider().Database();
  ASSERT_TRUE(db.Exec("DELETE FROM Device"));
  EXPECT_EQ(CountRows(db, "SELECT COUNT(*) FROM DeviceTTL"), 1);
  ShutdownContentFramework();
}

}  // namespace
}  // namespace morvex::store
