#include "store/SQLite.h"

#include <gtest/gtest.h>

#include <thread>

#include "store/StoreFixture.h"
#include "support/LogCapture.h"

namespace morvex::store {
namespace {

class SQLiteTest : public StoreFixture {};

TEST_F(SQLiteTest, UpdateBindsValuesBeforeSelectionArgumentsAndWritesExpressions) {
  ASSERT_TRUE(Db().Exec("INSERT INTO File (id, tree_id, path, status, usn, local_clock) VALUES (1, 1, '/a', 0, 0, 4)"));
  ASSERT_TRUE(Db().Exec("INSERT INTO File (id, tree_id, path, status, usn, local_clock) VALUES (2, 1, '/b', 0, 0, 4)"));
  CContentValues values;
  values.PutInt("status", 1).PutInt64("usn", 1234567890123LL).PutExpression("local_clock", "local_clock+1");
  CSelection selection("tree_id = ? AND path = ? ");
  selection.AddInt(1).AddString("/b");
  EXPECT_EQ(Db().Update("File", values, selection), 1);

  auto row = Db().Query("File", {"status", "usn", "local_clock"}, "path = '/b'");
  ASSERT_TRUE(row && row->MoveToNext());
  EXPECT_EQ(row->GetInt(0), 1);
  EXPECT_EQ(row->GetInt64(1), 1234567890123LL);
  EXPECT_EQ(row->GetInt(2), 5);
  EXPECT_FALSE(row->MoveToNext());
  EXPECT_TRUE(row->IsEnd());
  EXPECT_EQ(Db().Update("File", values, "path = '/none'"), 0);  // no row is not an error
}

TEST_F(SQLiteTest, ACursorOutlivesTheSelectionThatCarriedItsArguments) {
  ASSERT_TRUE(Db().Exec("INSERT INTO Tree (tree_uuid, tree_root) VALUES ('a-long-tree-uuid-beyond-small-string', '/a')"));
  auto cursor = Db().Query("Tree", {"tree_root"},
                           CSelection("tree_uuid = ? ").AddString("a-long-tree-uuid-beyond-small-string"), "");
  std::string overwrite(64, 'x');  // reuse the freed memory
  ASSERT_TRUE(cursor && cursor->MoveToNext());
  EXPECT_EQ(cursor->GetString(0), "/a");
}

TEST_F(SQLiteTest, ColumnsReadByNameFollowTheQuerysColumnList) {
  ASSERT_TRUE(Db().Exec("INSERT INTO Tree (id, tree_uuid, tree_root) VALUES (7, 'u', '/r')"));
  auto row = Db().Query("Tree", {"tree_root", "MAX(id)", "id", "tree_uuid"}, "");
  ASSERT_TRUE(row && row->MoveToNext());
  EXPECT_EQ(row->GetString("tree_uuid"), "u");
  EXPECT_EQ(row->GetString("tree_root"), "/r");
  EXPECT_EQ(row->GetInt("id"), 7);
  EXPECT_EQ(row->GetInt64("MAX(id)"), 7);
  EXPECT_FALSE(row->IsNull("id"));
  EXPECT_EQ(row->ColumnIndex("id"), 2);
}

TEST_F(SQLiteTest, ConflictModesOfInsert) {
  test::LogCapture log;
  CContentValues values;
  values.PutString("name", "Token").PutWString("value", u"first");
  EXPECT_GT(Db().Insert("Config", values, kConflictNone), 0);
  EXPECT_EQ(Db().Insert("Config", values, kConflictNone), -1);
  EXPECT_TRUE(log.Has(google::GLOG_INFO, "abort insert due to constraint: SQL: INSERT INTO Config"));
  EXPECT_EQ(Db().Insert("Config", values, kConflictIgnore), 0);  // ignored: no new row id
  CContentValues replacement;
  replacement.PutString("name", "Token").PutString("value", "second");
  EXPECT_GT(Db().Insert("Config", replacement, kConflictReplace), 0);
  EXPECT_EQ(Db().Insert("Config", replacement, 7), -1);  // unknown mode: no statement

  auto all = Db().Query("Config", {"name", "value"}, "");
  ASSERT_TRUE(all && all->MoveToNext());
  EXPECT_EQ(all->GetString(1), "second");
  EXPECT_EQ(all->GetWString(1), u"second");
  EXPECT_FALSE(all->MoveToNext());
}

TEST_F(SQLiteTest, TransactionCommitsEvenWhenAStatementInsideFails) {
  {
    CSQLiteTransation transaction(Db());
    EXPECT_EQ(transaction.Error(), 0u);
    ASSERT_TRUE(Db().Exec("INSERT INTO Usn VALUES ('a', 1)"));
    EXPECT_FALSE(Db().Exec("INSERT INTO NoSuchTable VALUES (1)"));
    {
      CSQLiteTransation nested(Db());  // joins: its end must not roll back the outer work
    }
    ASSERT_TRUE(Db().Exec("INSERT INTO Usn VALUES ('b', 1)"));
  }
  EXPECT_EQ(Count(uris::Usn()), 2);
}

TEST_F(SQLiteTest, AWriterWaitsForAnotherProcessesLockInsteadOfFailing) {
  // A second connection (as another process would) holds the write lock
  // for a moment; the service's write waits for it.
  CSQLite other;
  ASSERT_TRUE(other.Open(DbPath()));
  ASSERT_TRUE(other.Exec("BEGIN IMMEDIATE"));
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.Exec("COMMIT");
  });
  CContentValues values;
  values.PutString("device_uuid", "x").PutInt64("next_usn", 1);
  EXPECT_GT(Db().Insert("Usn", values, kConflictNone), 0);
  releaser.join();
}

}  // namespace
}  // namespace morvex::store
