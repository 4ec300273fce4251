// One pass over a relation: listing in pages, batch cuts, the order of
// deletions, hostile paths from a peer, refused downloads, progress totals.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <vector>

#include "core/BroadcastService.h"
#include "index/IgnoreRules.h"
#include "peer/PathRules.h"
#include "platform/UniqueDir.h"
#include "platform/UniqueFd.h"
#include "sync/SyncFixture.h"
#include "sync/TempFile.h"

namespace morvex::sync {
namespace {

// Adds up the progress events of the passes, as the main window does.
class ProgressTotals final : public core::CBroadcastReceiver {
 public:
  ProgressTotals() {
    for (int code : kCodes) core::CBroadcastService::Instance().Register(code, this);
  }
  ~ProgressTotals() override {
    for (int code : kCodes) core::CBroadcastService::Instance().Unregister(code, this);
  }
  bool OnReceive(int code, const std::any& parameter) override {
    std::lock_guard lock(mutex_);
    switch (code) {
      case core::BM_FILES_TOTAL: files += std::any_cast<core::FileEvent>(parameter).count; break;
      case core::BM_FILES_DONE:
        files -= std::any_cast<core::FileEvent>(parameter).count;
        filesDone.push_back(std::any_cast<core::FileEvent>(parameter).count);
        break;
      case core::BM_FILES_LEFT: files -= std::any_cast<core::FileEvent>(parameter).count; break;
      case core::BM_BYTES_TOTAL: bytes += std::any_cast<core::ByteEvent>(parameter).bytes; break;
      case core::BM_BYTES_DONE:
      case core::BM_BYTES_SKIPPED: bytes -= std::any_cast<core::ByteEvent>(parameter).bytes; break;
      case core::BM_INVALID_NAME: invalid.push_back(std::any_cast<core::PathEvent>(parameter).path); break;
      default: break;
    }
    return true;
  }

  std::mutex mutex_;
  int64_t files = 0;
  int64_t bytes = 0;
  std::vector<int32_t> filesDone;
  std::vector<std::string> invalid;

 private:
  static constexpr int kCodes[] = {core::BM_FILES_TOTAL, core::BM_FILES_DONE,  core::BM_FILES_LEFT,
                                   core::BM_BYTES_TOTAL, core::BM_BYTES_DONE,  core::BM_BYTES_SKIPPED,
                                   core::BM_INVALID_NAME};
};

using PassTest = SyncFixture;

// Sets or clears the immutable flag (chattr +i); false where the file
// system or the user cannot.
bool SetImmutable(const std::string& path, bool on) {
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  int flags = 0;
  if (!fd.Valid() || ::ioctl(fd.Get(), FS_IOC_GETFLAGS, &flags) != 0) return false;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  return ::ioctl(fd.Get(), FS_IOC_SETFLAGS, &flags) == 0;
}

// The names in one folder.
std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  platform::UniqueDir stream(::opendir(dir.c_str()));
  if (!stream) return names;
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  return names;
}

// A record no indexer would write, as only a peer could send it.
void InsertRecord(const std::string& root, const std::string& path) {
  index::FileInfo info;
  info.valid = true;
  info.kind = index::FileKind::kRegular;
  info.length = 4;
  store::COperationList list;
  index::CQoFileBuilder(path, "0000", index::LocalTree::ByRoot(root).Id(), 0644, 0, info).AppendInsert(list);
  store::CContentResolver::Instance().ApplyBatch(store::kAuthority, list);
}

TEST_F(PassTest, NewFilesArriveInBatchesOfFiveHundredAndTheTotalsReturnToZero) {
  for (int i = 0; i < 600; ++i) test::WriteFile(At(peerRoot_, "f" + std::to_string(i)), "content " + std::to_string(i));
  test::WriteFile(At(peerRoot_, "empty"), "");
  IndexAll(peerRoot_);
  ProgressTotals totals;

  ASSERT_TRUE(Pass());

  EXPECT_EQ(totals.filesDone, (std::vector<int32_t>{500, 101}));
  EXPECT_EQ(totals.files, 0);
  EXPECT_EQ(totals.bytes, 0);
  EXPECT_EQ(test::ReadFile(At(localRoot_, "f599")), "content 599");
  EXPECT_TRUE(index::PathExists(At(localRoot_, "empty")));
  EXPECT_EQ(Record(localRoot_, "f599").Sha1(), Record(peerRoot_, "f599").Sha1());
}

TEST_F(PassTest, ABatchClosesWhenItsBytesReachTheLimit) {
  const std::string mebibyte(1024 * 1024, 'm');
  for (int i = 0; i < 5; ++i) test::WriteFile(At(peerRoot_, "big" + std::to_string(i)), mebibyte);
  IndexAll(peerRoot_);
  ProgressTotals totals;
  PassLimits limits;
  limits.batchBytes = 2 * 1024 * 1024;

  ASSERT_TRUE(Pass(syncId_, limits));

  EXPECT_EQ(totals.filesDone, (std::vector<int32_t>{2, 2, 1}));
  EXPECT_EQ(totals.bytes, 0);
  EXPECT_EQ(test::ReadFile(At(localRoot_, "big4")), mebibyte);
}

TEST_F(PassTest, ADeletedFolderIsListedWholeAcrossPagesAndRemovedDeepestFirst) {
  ASSERT_EQ(::mkdir(At(peerRoot_, "d").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(At(peerRoot_, "d/e").c_str(), 0755), 0);
  for (int i = 0; i < 12; ++i) test::WriteFile(At(peerRoot_, "d/e/f" + std::to_string(i)), "x");
  test::WriteFile(At(peerRoot_, "stays"), "y");
  IndexAll(peerRoot_);
  PassLimits limits;
  limits.pageSize = 5;
  ASSERT_TRUE(Pass(syncId_, limits));
  ASSERT_TRUE(index::PathExists(At(localRoot_, "d/e/f11")));

  // Removing the folder marks everything below it with one shared usn.
  ASSERT_TRUE(index::RemoveDirectoryTree(At(peerRoot_, "d"), true));
  IndexPaths(peerRoot_, {"d"});
  ASSERT_TRUE(Pass(syncId_, limits));

  EXPECT_FALSE(index::PathExists(At(localRoot_, "d")));
  EXPECT_EQ(Record(localRoot_, "d/e/f7").Status(), qo::REMOVED);
  EXPECT_EQ(Record(localRoot_, "d").Status(), qo::REMOVED);
  EXPECT_TRUE(index::PathExists(At(localRoot_, "stays")));
}

TEST_F(PassTest, PathsThatWouldLeaveTheTreeAreSkippedAndReported) {
  test::WriteFile(At(peerRoot_, "fine.txt"), "fine");
  ASSERT_EQ(::mkdir(At(peerRoot_, "link").c_str(), 0755), 0);
  test::WriteFile(At(peerRoot_, "link/through.txt"), "would land outside");
  IndexAll(peerRoot_);
  // A record no indexer would write: a peer may send anything.
  index::FileInfo info;
  info.valid = true;
  info.kind = index::FileKind::kRegular;
  info.length = 4;
  store::COperationList list;
  index::CQoFileBuilder(peerRoot_ + "/../escape.txt", "0000", index::LocalTree::ByRoot(peerRoot_).Id(), 0644, 0, info)
      .AppendInsert(list);
  Resolver().ApplyBatch(store::kAuthority, list);
  // Locally the same name is a link to a folder outside the tree.
  const std::string outside = dir_ / "outside";
  ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
  ASSERT_EQ(::symlink(outside.c_str(), At(localRoot_, "link").c_str()), 0);
  ProgressTotals totals;

  ASSERT_TRUE(Pass());

  EXPECT_EQ(test::ReadFile(At(localRoot_, "fine.txt")), "fine");
  EXPECT_FALSE(index::PathExists(dir_ / "escape.txt"));
  EXPECT_FALSE(index::PathExists(outside + "/through.txt"));
  EXPECT_EQ(totals.invalid.size(), 3u) << ::testing::PrintToString(totals.invalid);
}

// A folder of the receiving tree moved aside and replaced by a link to a
// folder outside the tree, after the listing was read and before anything
// was fetched or applied.
TEST_F(PassTest, AFolderSwappedForALinkDuringThePassGetsNothingWrittenOutside) {
  ASSERT_EQ(::mkdir(At(peerRoot_, "d").c_str(), 0755), 0);
  test::WriteFile(At(peerRoot_, "d/old.txt"), "old");
  IndexAll(peerRoot_);
  ASSERT_TRUE(Pass());
  ASSERT_EQ(test::ReadFile(At(localRoot_, "d/old.txt")), "old");
  test::WriteFile(At(peerRoot_, "d/new.txt"), "new");
  test::WriteFile(At(peerRoot_, "d/mode.txt"), "mode");
  ASSERT_EQ(::mkdir(At(peerRoot_, "d/sub").c_str(), 0755), 0);
  test::WriteFile(At(peerRoot_, "d/sub/deep.txt"), "deep");
  ASSERT_EQ(::unlink(At(peerRoot_, "d/old.txt").c_str()), 0);
  IndexPaths(peerRoot_, {"d/new.txt", "d/mode.txt", "d/sub", "d/sub/deep.txt", "d/old.txt"});
  CSyncDir relation(syncId_);
  protocol::PeerChannel channel = relation.OpenChannel(*peer_);
  PassLists lists;
  ASSERT_TRUE(relation.ListChanges(channel, {}, lists));

  const std::string moved = dir_ / "moved";
  const std::string outside = dir_ / "outside";
  ASSERT_EQ(::rename(At(localRoot_, "d").c_str(), moved.c_str()), 0);
  ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
  ASSERT_EQ(::symlink(outside.c_str(), At(localRoot_, "d").c_str()), 0);
  relation.ApplyChanges(*peer_, channel, {}, lists);

  EXPECT_EQ(Names(outside), std::set<std::string>{});
  EXPECT_EQ(Names(moved), std::set<std::string>{"old.txt"});
  EXPECT_FALSE(relation.Complete());
  for (const char* path : {"d/new.txt", "d/sub", "d/sub/deep.txt"}) {
    EXPECT_EQ(Record(localRoot_, path).Id(), -1) << path;
  }
  EXPECT_EQ(Record(localRoot_, "d/old.txt").Status(), qo::NORMAL);
}

TEST_F(PassTest, ANameOfTheLongestLengthSyncsAndOneThatCannotBeWrittenLeavesThePassIncomplete) {
  const std::string longest(255, 'n');
  test::WriteFile(At(peerRoot_, longest), "long");
  IndexAll(peerRoot_);
  CSyncDir first(syncId_);
  ASSERT_TRUE(first.RunPass(*peer_));
  EXPECT_TRUE(first.Complete());
  EXPECT_EQ(test::ReadFile(At(localRoot_, longest)), "long");
  EXPECT_EQ(Names(localRoot_), std::set<std::string>{longest});  // no temporary file left

  InsertRecord(peerRoot_, peerRoot_ + "/" + std::string(256, 'x'));
  CSyncDir second(syncId_);
  ASSERT_TRUE(second.RunPass(*peer_));
  EXPECT_FALSE(second.Complete());
}

TEST(TempFileName, LongNamesGetShortUniqueTemporaryNames) {
  const std::string prefix(240, 'p');
  const struct {
    std::string name;
    std::string temp;  // empty: shortened, checked below
  } cases[] = {
      {"a.txt", "a.txt.~morvex"},
      {std::string(247, 's'), std::string(247, 's') + ".~morvex"},
      {prefix + std::string(8, 'a'), ""},
      {prefix + std::string(8, 'b'), ""},
      {std::string(254, 'x') + "\xc3\xa9", ""},  // ends in a two-byte character
  };
  std::set<std::string> temps;
  for (const auto& c : cases) {
    const std::string temp = CTempFile::TempNameFor(c.name);
    if (!c.temp.empty()) {
      EXPECT_EQ(temp, c.temp);
    }
    EXPECT_TRUE(peer::ValidWirePath("/" + temp)) << temp;  // at most 255 bytes of valid UTF-8
    EXPECT_TRUE(index::IsTmpFile(temp)) << temp;
    temps.insert(temp);
  }
  EXPECT_EQ(temps.size(), std::size(cases));
}

TEST_F(PassTest, AFileThatFailsItsChecksumIsNotAppliedAndComesWithTheNextPass) {
  test::WriteFile(At(peerRoot_, "racy.txt"), "first version");
  IndexAll(peerRoot_);
  // Rewritten after indexing with the same length: the served bytes no
  // longer match the listed fingerprint.
  test::WriteFile(At(peerRoot_, "racy.txt"), "other version");

  ASSERT_TRUE(Pass());
  EXPECT_FALSE(index::PathExists(At(localRoot_, "racy.txt")));
  EXPECT_FALSE(index::PathExists(At(localRoot_, "racy.txt.~morvex")));
  EXPECT_EQ(Record(localRoot_, "racy.txt").Id(), -1);

  IndexPaths(peerRoot_, {"racy.txt"});
  ASSERT_TRUE(Pass());
  EXPECT_EQ(test::ReadFile(At(localRoot_, "racy.txt")), "other version");
}

TEST_F(PassTest, PermissionsArriveWithoutSetIdOrStickyBits) {
  test::WriteFile(At(peerRoot_, "tool"), "#!/bin/sh\n");
  test::WriteFile(At(peerRoot_, "private"), "key");
  ASSERT_EQ(::chmod(At(peerRoot_, "tool").c_str(), 04755), 0);
  ASSERT_EQ(::chmod(At(peerRoot_, "private").c_str(), 0600), 0);
  IndexAll(peerRoot_);

  ASSERT_TRUE(Pass());

  struct stat info {};
  ASSERT_EQ(::stat(At(localRoot_, "tool").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  EXPECT_EQ(Record(localRoot_, "tool").UnixAttr(), 0755) << "the record holds what the disk holds";
  ASSERT_EQ(::stat(At(localRoot_, "private").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(PassTest, LeftoverTemporaryFilesGoAtTheFirstPass) {
  test::WriteFile(At(localRoot_, "half.bin.~morvex"), "left by a killed service");
  test::WriteFile(At(peerRoot_, "new.txt"), "n");
  IndexAll(peerRoot_);

  ASSERT_TRUE(Pass());

  EXPECT_FALSE(index::PathExists(At(localRoot_, "half.bin.~morvex")));
  EXPECT_TRUE(index::PathExists(At(localRoot_, "new.txt")));
}

TEST_F(PassTest, AListingThatFailsEndsThePassWithoutChanges) {
  test::WriteFile(At(peerRoot_, "a.txt"), "a");
  IndexAll(peerRoot_);
  // The peer does not know the tree (it was deleted there).
  const int32_t unknown = AddRelation(localRoot_, protocol::NewUuid(), "/elsewhere");
  EXPECT_FALSE(Pass(unknown));
  // The peer is offline: no address to reach it.
  store::CContentValues offline;
  offline.PutString("route_uri", "");
  Resolver().Update(store::uris::Device(), offline, store::CSelection("uuid = ? ").AddString(own_));
  EXPECT_FALSE(Pass());
  EXPECT_FALSE(index::PathExists(At(localRoot_, "a.txt")));
}

TEST_F(PassTest, AFileThatCannotBeReplacedLeavesThePassIncompleteAndNamesIt) {
  test::WriteFile(At(peerRoot_, "locked.txt"), "first");
  test::WriteFile(At(peerRoot_, "free.txt"), "first");
  IndexAll(peerRoot_);
  ASSERT_TRUE(Pass());
  const std::string locked = At(localRoot_, "locked.txt");
  if (!SetImmutable(locked, true)) GTEST_SKIP() << "no immutable flag here";
  test::WriteFile(At(peerRoot_, "locked.txt"), "second");
  test::WriteFile(At(peerRoot_, "free.txt"), "second");
  IndexPaths(peerRoot_, {"locked.txt", "free.txt"});

  CSyncDir relation(syncId_);
  const bool listed = relation.RunPass(*peer_);
  SetImmutable(locked, false);
  ASSERT_TRUE(listed);
  EXPECT_FALSE(relation.Complete());
  const core::PassReport report = relation.Report();
  EXPECT_EQ(report.problem, core::PassProblem::kItemsFailed);
  ASSERT_EQ(report.items.size(), 1u);
  EXPECT_EQ(report.itemCount, 1);
  EXPECT_EQ(report.items[0].path, locked);
  EXPECT_FALSE(report.items[0].reason.empty());
  EXPECT_EQ(test::ReadFile(locked), "first");
  EXPECT_EQ(test::ReadFile(At(localRoot_, "free.txt")), "second") << "the others are applied";
}

}  // namespace
}  // namespace morvex::sync
