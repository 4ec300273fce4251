#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "Morvex.pb.h"
#include "index/IgnoreRules.h"
#include "index/IndexFixture.h"

namespace morvex::index {
namespace {

TEST(IgnoreRules, TrashAndLockFilesButNotLookalikes) {
  const IgnoreRules rules({"/", "/mnt/usb/"});
  const std::pair<const char*, bool> cases[] = {
      {"/home/u/report.TMP", true},
      {"/home/u/~$report.docx", true},
      {"/home/u/temp/file", false},
      {"/mnt/usb/.Trash-1000/files/x", true},
      {"/mnt/usb/.trash", true},
      {"/mnt/usb/lost+found", true},
      {"/mnt/usb/docs/lost+found", false},  // only at a file-system root
      {"/mnt/usb/.Trash-me", false},
      {"/.Morvex", true},
      {"/mnt/usb/.Morvex", true},
      {"/mnt/usb/.Morvex/inside", false},
      {"/home/u/.Morvex", false},
      {"/mnt/usbstick/lost+found", false},  // another mount point's prefix
  };
  for (const auto& [path, ignored] : cases) EXPECT_EQ(rules.Ignored(path), ignored) << path;
  EXPECT_TRUE(IsTmpFile("/a/b.txt.~morvex"));
  EXPECT_FALSE(IsTmpFile("/a/b.txt.~MORVEX"));
}

class UsnTest : public store::StoreFixture {};

TEST_F(UsnTest, AllRecordsAreCountedWithTheirLengths) {
  EXPECT_EQ(CountAllRecords().records, 0);
  EXPECT_EQ(CountAllRecords().bytes, 0);
  ASSERT_TRUE(Db().Exec("INSERT INTO File (tree_id, path, length) VALUES (1, '/a', 5000000000), (1, '/b', 7), "
                        "(2, '/a', NULL)"));
  EXPECT_EQ(CountAllRecords().records, 3);
  EXPECT_EQ(CountAllRecords().bytes, 5000000007);
}

TEST_F(UsnTest, BlocksAreReservedAheadAndNeverReusedAfterARestart) {
  {
    CUsnAllocator usn("device");
    for (int i = 1; i <= 50; ++i) ASSERT_EQ(usn.Next(), i);
    EXPECT_EQ(Resolver().QueryInt64(store::uris::Usn(), "next_usn", -1, store::CSelection()), 50);
    EXPECT_EQ(usn.Next(), 51);
    EXPECT_EQ(Resolver().QueryInt64(store::uris::Usn(), "next_usn", -1, store::CSelection()), 100);
  }
  CUsnAllocator restarted("device");
  EXPECT_EQ(restarted.Next(), 101);
}

class RecordsTest : public IndexFixture {};

TEST_F(RecordsTest, IndexPathFollowsContentTimeSizeAndPermissions) {
  Write("f", "hello");
  Index({"f"});
  CQoFile first = Record("f");
  ASSERT_EQ(first.Status(), qo::NORMAL);
  EXPECT_EQ(first.Sha1(), "aaf4c61ddcc5e8a2dabede0f3b482cd9aea9434d");
  EXPECT_EQ(first.VClock()->At(0), 1);

  struct Step {
    const char* what;
    void (*change)(RecordsTest&);
    bool changes;
  };
  const Step steps[] = {
      {"nothing", [](RecordsTest&) {}, false},
      {"touched, same bytes", [](RecordsTest& t) { SetLastWriteTime(t.At("f"), 1000000); }, true},
      {"permission only", [](RecordsTest& t) { ::chmod(t.At("f").c_str(), 0444); }, true},
      {"size changed, time kept",
       [](RecordsTest& t) {
         t.Write("f", "hello, world");
         SetLastWriteTime(t.At("f"), 1000000);
       },
       true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const CQoFile before = Record("f");
    step.change(*this);
    Index({"f"});
    const CQoFile after = Record("f");
    EXPECT_EQ(after.Usn() != before.Usn(), step.changes);
    EXPECT_EQ(after.VClock()->At(0), before.VClock()->At(0) + (step.changes ? 1 : 0));
  }
  const CQoFile last = Record("f");
  EXPECT_EQ(last.Mtime(), 1000000);
  EXPECT_EQ(last.Length(), 12);
  EXPECT_EQ(last.UnixAttr(), 0444);
  EXPECT_EQ(last.WinAttr(), 1);  // read-only
  EXPECT_EQ(last.Sha1(), "b7e23ec29af22b0b4e41da31e868d57226121c84");
}

TEST_F(RecordsTest, TypeChangesAndReturningPaths) {
  Write("x", "file first");
  Index({"x"});
  ASSERT_EQ(::unlink(At("x").c_str()), 0);
  MakeDir("x");
  Index({"x"});
  CQoFile now = Record("x");
  EXPECT_EQ(now.Type(), qo::DIR);
  EXPECT_EQ(now.Sha1(), "");

  Write("gone", "data");
  Index({"gone"});
  ASSERT_EQ(::unlink(At("gone").c_str()), 0);
  Index({"gone"});
  const CQoFile removed = Record("gone");
  EXPECT_EQ(removed.Status(), qo::REMOVED);
  Write("gone", "data");
  Index({"gone"});
  const CQoFile back = Record("gone");
  EXPECT_EQ(back.Status(), qo::NORMAL);
  EXPECT_GT(back.Usn(), removed.Usn());
  EXPECT_EQ(back.VClock()->At(0), removed.VClock()->At(0) + 1);
}

TEST_F(RecordsTest, RemovingAFolderMarksExactlyItsContents) {
  for (const char* dir : {"a_b", "a_b/deep", "axb", "a_b2", "A_B", "a%b"}) MakeDir(dir);
  for (const char* file : {"a_b/f", "a_b/deep/g", "axb/f", "a_b2/f", "A_B/f", "a%b/f"}) Write(file, file);
  store::COperationList list;
  ASSERT_TRUE(tree_.WalkTree(list, root_));
  Resolver().ApplyBatch(store::kAuthority, list);
  ASSERT_EQ(Count(store::uris::File(), "status = 1"), 12);

  Index({"a_b/deep/g"});  // no change: removal below must still not touch it twice
  ASSERT_EQ(std::system(("rm -r '" + At("a_b") + "'").c_str()), 0);
  Index({"a_b"});
  EXPECT_EQ(Record("a_b").Status(), qo::REMOVED);
  EXPECT_EQ(Record("a_b/f").Status(), qo::REMOVED);
  EXPECT_EQ(Record("a_b/deep/g").Status(), qo::REMOVED);
  EXPECT_EQ(Record("a_b/f").Usn(), Record("a_b/deep/g").Usn());  // one shared usn
  for (const char* kept : {"axb/f", "a_b2/f", "A_B/f", "a%b/f", "axb", "a_b2"}) {
    EXPECT_EQ(Record(kept).Status(), qo::NORMAL) << kept;
  }

  ASSERT_EQ(std::system(("rm -r '" + At("a%b") + "'").c_str()), 0);
  const int64_t before = Record("a_b/f").Usn();
  Index({"a%b"});
  EXPECT_EQ(Record("a%b/f").Status(), qo::REMOVED);
  EXPECT_EQ(Record("a_b/f").Usn(), before);  // already removed rows are left alone
}

TEST_F(RecordsTest, WalkSkipsTemporaryFilesAndServiceFoldersButNotTheirLookalikes) {
  MakeDir(".Morvex");
  MakeDir("sub");
  Write(".Morvex/x", "x");
  Write("sub/file.~morvex", "partial");
  Write("sub/file", "done");
  ASSERT_EQ(::symlink("/etc", At("link").c_str()), 0);
  store::COperationList list;
  tree_.WalkTree(list, root_);
  Resolver().ApplyBatch(store::kAuthority, list);
  EXPECT_EQ(Count(store::uris::File()), 2);  // sub and sub/file
}

TEST_F(RecordsTest, TreesNestOnlyByWholeComponents) {
  for (const char* dir : {"tree2", "tree2/inner", "treex"}) ASSERT_EQ(::mkdir((dir_ / dir).c_str(), 0755), 0);
  EXPECT_EQ(CreateTree(kSyncUuid, root_, "0d7c8a3e-1b2c-4d5e-8f60-0000000000aa", kOwnUuid), qo::ZE_EXIST);
  MakeDir("inside");
  EXPECT_EQ(CreateTree(kSyncUuid, At("inside"), "0d7c8a3e-1b2c-4d5e-8f60-0000000000ab", kOwnUuid), qo::ZE_NESTED_TREE);
  EXPECT_EQ(CreateTree(kSyncUuid, dir_.Path(), "0d7c8a3e-1b2c-4d5e-8f60-0000000000ac", kOwnUuid), qo::ZE_NESTED_TREE);
  EXPECT_EQ(CreateTree(kSyncUuid, dir_ / "tree2", "0d7c8a3e-1b2c-4d5e-8f60-0000000000ad", kOwnUuid), qo::ZE_SUCCESS);
  EXPECT_EQ(CreateTree(kSyncUuid, dir_ / "nothere", "0d7c8a3e-1b2c-4d5e-8f60-0000000000ae", kOwnUuid), qo::ZE_BAD_PATH);
  EXPECT_EQ(CreateTree("0d7c8a3e-1b2c-4d5e-8f60-0000000000ff", dir_ / "tree2/inner", "0d7c8a3e-1b2c-4d5e-8f60-0000000000af",
                       kOwnUuid),
            qo::ZE_NESTED_TREE);  // nor in or around a tree of another sync folder
  EXPECT_EQ(CreateTree("0d7c8a3e-1b2c-4d5e-8f60-0000000000ff", dir_ / "treex", "0d7c8a3e-1b2c-4d5e-8f60-0000000000b0",
                       kOwnUuid),
            qo::ZE_SUCCESS);
}

TEST_F(RecordsTest, AllListsEveryTreeWithItsColumns) {
  ASSERT_EQ(::mkdir((dir_ / "tree2").c_str(), 0755), 0);
  ASSERT_EQ(CreateTree("0d7c8a3e-1b2c-4d5e-8f60-0000000000ff", dir_ / "tree2", "0d7c8a3e-1b2c-4d5e-8f60-0000000000ad",
                       kOwnUuid),
            qo::ZE_SUCCESS);
  const std::vector<LocalTree> trees = LocalTree::All();
  ASSERT_EQ(trees.size(), 2u);
  EXPECT_EQ(trees[0].Id(), tree_.Id());
  EXPECT_EQ(trees[0].Root(), root_);
  EXPECT_EQ(trees[1].Root(), dir_ / "tree2");
  EXPECT_EQ(trees[1].SyncUuid(), "0d7c8a3e-1b2c-4d5e-8f60-0000000000ff");
  EXPECT_EQ(trees[1].TreeUuid(), "0d7c8a3e-1b2c-4d5e-8f60-0000000000ad");
  EXPECT_EQ(trees[1].DeviceUuid(), kOwnUuid);
  EXPECT_TRUE(trees[1].Valid());
  ASSERT_EQ(DeleteTree(trees[1]), qo::ZE_SUCCESS);
  EXPECT_EQ(LocalTree::All().size(), 1u);
}

// Counts the change notices it is told of (no handler: told at once).
class TreeNotices final : public store::CContentObserver {
 public:
  std::unique_ptr<store::CSQLiteCursor> Query() override { return nullptr; }
  void OnChange(std::unique_ptr<store::CSQLiteCursor>) override { ++changes; }
  int changes = 0;
};

// The desktop's list of sync folders follows the trees through these.
TEST_F(RecordsTest, TreeChangesAreToldUntilTheObserverIsTakenOff) {
  TreeNotices notices;
  ObserveTrees(&notices);
  ASSERT_EQ(DeleteTree(tree_), 0);
  EXPECT_GE(notices.changes, 1);
  StopObservingTrees(&notices);
  const int seen = notices.changes;
  ASSERT_EQ(CreateTree(kSyncUuid, root_, kTreeUuid, kOwnUuid), 0);
  EXPECT_EQ(notices.changes, seen);
}

}  // namespace
}  // namespace morvex::index
