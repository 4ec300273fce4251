// Applying a peer's changes: concurrent edits, deletions against edits,
// type changes, and the guards that keep files the user changed meanwhile.
// Each case starts from two trees in step, changes both sides, and runs the
// passes of both directions, as two devices would.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>

#include "core/BroadcastService.h"
#include "sync/MorvexFile.h"
#include "sync/SyncFixture.h"

namespace morvex::sync {
namespace {

using Tree = std::map<std::string, std::string>;  // relative path -> content, "<dir>" for a folder

void Scan(const std::string& root, const std::string& relative, Tree& out) {
  const std::string dir = relative.empty() ? root : root + "/" + relative;
  DIR* stream = ::opendir(dir.c_str());
  if (stream == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(stream);
  for (const std::string& name : names) {
    const std::string rel = relative.empty() ? name : relative + "/" + name;
    if (index::GetFileInfo(root + "/" + rel).kind == index::FileKind::kDirectory) {
      out[rel] = "<dir>";
      Scan(root, rel, out);
    } else {
      out[rel] = test::ReadFile(root + "/" + rel);
    }
  }
}

Tree Snapshot(const std::string& root) {
  Tree tree;
  Scan(root, "", tree);
  return tree;
}

class ConflictTest : public SyncFixture, public ::testing::WithParamInterface<bool> {
 protected:
  ConflictTest() { localLower_ = GetParam(); }

  void SetUp() override {
    SyncFixture::SetUp();
    if (IsSkipped()) return;
    reverseId_ = AddRelation(peerRoot_, localTree_, localRoot_);
  }

  // Both directions until neither changes anything (at most a few rounds).
  void Converge() {
    for (int round = 0; round < 4; ++round) {
      ASSERT_TRUE(Pass(syncId_));
      ASSERT_TRUE(Pass(reverseId_));
    }
  }

  // Writes the same start on the peer side and brings the local side in step.
  void Start(const std::function<void(const std::string& root)>& make) {
    make(peerRoot_);
    IndexAll(peerRoot_);
    Converge();
    ASSERT_EQ(Snapshot(localRoot_), Snapshot(peerRoot_));
  }

  int32_t reverseId_ = 0;
};

// Collects the conflict copies the passes announce to the interfaces.
class CopyReceiver final : public core::CBroadcastReceiver {
 public:
  CopyReceiver() { core::CBroadcastService::Instance().Register(core::BM_CONFLICT_COPY, this); }
  ~CopyReceiver() override { core::CBroadcastService::Instance().Unregister(core::BM_CONFLICT_COPY, this); }
  bool OnReceive(int, const std::any& parameter) override {
    std::lock_guard lock(mutex_);
    paths_.push_back(std::any_cast<core::PathEvent>(parameter).path);
    return true;
  }
  std::vector<std::string> Paths() {
    std::lock_guard lock(mutex_);
    return paths_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> paths_;
};

TEST_P(ConflictTest, ConcurrentEditsEndAsTheSameTwoFilesOnBothSides) {
  Start([](const std::string& root) { test::WriteFile(root + "/a.txt", "start"); });
  CopyReceiver copies;
  test::WriteFile(At(localRoot_, "a.txt"), "local edit");
  test::WriteFile(At(peerRoot_, "a.txt"), "peer edit, longer");
  IndexPaths(localRoot_, {"a.txt"});
  IndexPaths(peerRoot_, {"a.txt"});

  Converge();

  const Tree local = Snapshot(localRoot_);
  EXPECT_EQ(local, Snapshot(peerRoot_));
  ASSERT_EQ(local.size(), 2u) << ::testing::PrintToString(local);
  // The version of the tree whose UUID sorts higher keeps the name.
  const std::string winner = GetParam() ? "peer edit, longer" : "local edit";
  const std::string other = GetParam() ? "local edit" : "peer edit, longer";
  EXPECT_EQ(local.at("a.txt"), winner);
  EXPECT_EQ(local.at("a(Conflict).txt"), other);
  // One copy was made, on the side that received the other edit; the
  // interfaces heard of it by its full path.
  const std::vector<std::string> announced = copies.Paths();
  ASSERT_EQ(announced.size(), 1u) << ::testing::PrintToString(announced);
  EXPECT_TRUE(announced[0] == At(localRoot_, "a(Conflict).txt") || announced[0] == At(peerRoot_, "a(Conflict).txt"))
      << announced[0];
}

TEST_P(ConflictTest, EditAgainstDeletionKeepsTheEditOnBothSides) {
  Start([](const std::string& root) {
    test::WriteFile(root + "/kept-here.txt", "start");
    test::WriteFile(root + "/kept-there.txt", "start");
  });
  test::WriteFile(At(localRoot_, "kept-here.txt"), "edited locally");
  ASSERT_EQ(::unlink(At(peerRoot_, "kept-here.txt").c_str()), 0);
  ASSERT_EQ(::unlink(At(localRoot_, "kept-there.txt").c_str()), 0);
  test::WriteFile(At(peerRoot_, "kept-there.txt"), "edited on the peer");
  IndexPaths(localRoot_, {"kept-here.txt", "kept-there.txt"});
  IndexPaths(peerRoot_, {"kept-here.txt", "kept-there.txt"});

  Converge();

  const Tree expected{{"kept-here.txt", "edited locally"}, {"kept-there.txt", "edited on the peer"}};
  EXPECT_EQ(Snapshot(localRoot_), expected);
  EXPECT_EQ(Snapshot(peerRoot_), expected);
}

TEST_P(ConflictTest, AFileAndAFolderCreatedAtOnePathAreBothKept) {
  Start([](const std::string& root) { test::WriteFile(root + "/seed", "x"); });
  test::WriteFile(At(localRoot_, "thing"), "a file");
  ASSERT_EQ(::mkdir(At(peerRoot_, "thing").c_str(), 0755), 0);
  test::WriteFile(At(peerRoot_, "thing/inside.txt"), "in the folder");
  IndexPaths(localRoot_, {"thing"});
  IndexPaths(peerRoot_, {"thing", "thing/inside.txt"});

  Converge();

  const Tree expected{{"seed", "x"}, {"thing", "<dir>"}, {"thing/inside.txt", "in the folder"}, {"thing(Conflict)", "a file"}};
  EXPECT_EQ(Snapshot(localRoot_), expected);
  EXPECT_EQ(Snapshot(peerRoot_), expected);
}

TEST_P(ConflictTest, SameContentOnBothSidesMergesWithoutACopy) {
  Start([](const std::string& root) { test::WriteFile(root + "/same.txt", "start"); });
  test::WriteFile(At(localRoot_, "same.txt"), "identical edit");
  test::WriteFile(At(peerRoot_, "same.txt"), "identical edit");
  IndexPaths(localRoot_, {"same.txt"});
  IndexPaths(peerRoot_, {"same.txt"});

  Converge();

  const Tree expected{{"same.txt", "identical edit"}};
  EXPECT_EQ(Snapshot(localRoot_), expected);
  EXPECT_EQ(Snapshot(peerRoot_), expected);
  const index::CQoFile local = Record(localRoot_, "same.txt");
  const index::CVectorClock* clock = local.VClock();
  ASSERT_NE(clock, nullptr);
  EXPECT_GE(clock->Data().size(), 2u) << "the clocks are merged";
}

INSTANTIATE_TEST_SUITE_P(BothOrders, ConflictTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "LocalSortsFirst" : "PeerSortsFirst"; });

// Every pairing of concurrent changes of one path, from a file or from a
// folder: each side edits it (new content; new permissions for a folder),
// deletes it, or replaces it by the other type. Whatever the pairing, both
// sides end equal and nothing that either side still had is lost.
enum class Action { kEdit, kDelete, kRetype };

struct TableCase {
  bool startsAsFolder;
  Action local;
  Action peer;
};

std::string CaseName(const ::testing::TestParamInfo<TableCase>& info) {
  const auto name = [](Action action) {
    return action == Action::kEdit ? "Edit" : action == Action::kDelete ? "Delete" : "Retype";
  };
  return std::string(info.param.startsAsFolder ? "Folder" : "File") + "Local" + name(info.param.local) + "Peer" +
         name(info.param.peer);
}

class ConflictTableTest : public SyncFixture, public ::testing::WithParamInterface<TableCase> {
 protected:
  void SetUp() override {
    SyncFixture::SetUp();
    if (IsSkipped()) return;
    reverseId_ = AddRelation(peerRoot_, localTree_, localRoot_);
  }

  // Changes "x" on one side; returns what must survive somewhere: the
  // content of a file, "<dir>" for a folder, nothing for a deletion.
  std::string Change(const std::string& root, Action action, const std::string& side) {
    const std::string x = At(root, "x");
    const bool folder = GetParam().startsAsFolder;
    switch (action) {
      case Action::kEdit:
        if (folder) {
          EXPECT_EQ(::chmod(x.c_str(), 0700), 0);
          return "<dir>";
        }
        test::WriteFile(x, "edited by " + side);
        return "edited by " + side;
      case Action::kDelete:
        EXPECT_EQ(folder ? ::rmdir(x.c_str()) : ::unlink(x.c_str()), 0);
        return "";
      case Action::kRetype:
        if (folder) {
          EXPECT_EQ(::rmdir(x.c_str()), 0);
          test::WriteFile(x, "file by " + side);
          return "file by " + side;
        }
        EXPECT_EQ(::unlink(x.c_str()), 0);
        EXPECT_EQ(::mkdir(x.c_str(), 0755), 0);
        test::WriteFile(x + "/inside.txt", "inside by " + side);
        return "inside by " + side;
    }
    return "";
  }

  int32_t reverseId_ = 0;
};

TEST_P(ConflictTableTest, BothSidesEndEqualAndKeepEveryVersionStillPresent) {
  if (GetParam().startsAsFolder) {
    ASSERT_EQ(::mkdir(At(peerRoot_, "x").c_str(), 0755), 0);
  } else {
    test::WriteFile(At(peerRoot_, "x"), "start");
  }
  IndexAll(peerRoot_);
  ASSERT_TRUE(Pass(syncId_));
  ASSERT_EQ(Snapshot(localRoot_), Snapshot(peerRoot_));

  const std::string keptLocal = Change(localRoot_, GetParam().local, "local");
  const std::string keptPeer = Change(peerRoot_, GetParam().peer, "peer");
  IndexPaths(localRoot_, {"x", "x/inside.txt"});
  IndexPaths(peerRoot_, {"x", "x/inside.txt"});
  for (int round = 0; round < 4; ++round) {
    ASSERT_TRUE(Pass(syncId_));
    ASSERT_TRUE(Pass(reverseId_));
  }

  const Tree local = Snapshot(localRoot_);
  EXPECT_EQ(local, Snapshot(peerRoot_));
  for (const std::string& kept : {keptLocal, keptPeer}) {
    if (kept.empty()) continue;
    const bool found = std::any_of(local.begin(), local.end(), [&](const auto& entry) { return entry.second == kept; });
    EXPECT_TRUE(found) << "lost: " << kept << " in " << ::testing::PrintToString(local);
  }
  if (keptLocal.empty() && keptPeer.empty()) {
    EXPECT_TRUE(local.empty()) << ::testing::PrintToString(local);
  }
}

std::vector<TableCase> AllPairings() {
  std::vector<TableCase> cases;
  for (const bool folder : {false, true}) {
    for (const Action local : {Action::kEdit, Action::kDelete, Action::kRetype}) {
      for (const Action peer : {Action::kEdit, Action::kDelete, Action::kRetype}) cases.push_back({folder, local, peer});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Pairings, ConflictTableTest, ::testing::ValuesIn(AllPairings()), CaseName);

using GuardTest = SyncFixture;

TEST_F(GuardTest, AFileChangedSinceItWasIndexedIsNeitherReplacedNorDeleted) {
  test::WriteFile(At(peerRoot_, "edit.txt"), "v1");
  test::WriteFile(At(peerRoot_, "drop.txt"), "v1");
  IndexAll(peerRoot_);
  ASSERT_TRUE(Pass());
  // The peer changes both; the user edits the local copies before the
  // indexer has seen the edits (their times move on).
  test::WriteFile(At(peerRoot_, "edit.txt"), "v2 from the peer");
  ASSERT_EQ(::unlink(At(peerRoot_, "drop.txt").c_str()), 0);
  IndexPaths(peerRoot_, {"edit.txt", "drop.txt"});
  const index::CQoFile before = Record(localRoot_, "edit.txt");
  for (const char* name : {"edit.txt", "drop.txt"}) {
    test::WriteFile(At(localRoot_, name), "the user's edit");
    ASSERT_EQ(index::SetLastWriteTime(At(localRoot_, name), before.Mtime() + 5000), true);
  }

  ASSERT_TRUE(Pass());

  EXPECT_EQ(test::ReadFile(At(localRoot_, "edit.txt")), "the user's edit");
  EXPECT_EQ(test::ReadFile(At(localRoot_, "drop.txt")), "the user's edit");
  EXPECT_EQ(Record(localRoot_, "edit.txt").Sha1(), before.Sha1()) << "the record keeps its version";
  EXPECT_EQ(Record(localRoot_, "drop.txt").Status(), qo::NORMAL);
  EXPECT_FALSE(index::PathExists(At(localRoot_, "edit.txt.~morvex")));
}

TEST_F(GuardTest, ANewRemoteFileNeverOverwritesAnUnindexedLocalFile) {
  test::WriteFile(At(peerRoot_, "both.txt"), "the peer's");
  IndexAll(peerRoot_);
  test::WriteFile(At(localRoot_, "both.txt"), "the user's, not indexed yet");

  ASSERT_TRUE(Pass());

  EXPECT_EQ(test::ReadFile(At(localRoot_, "both.txt")), "the user's, not indexed yet");
  EXPECT_EQ(Record(localRoot_, "both.txt").Id(), -1);
  EXPECT_FALSE(index::PathExists(At(localRoot_, "both.txt.~morvex")));
}

TEST_F(GuardTest, ATemporaryFileAnotherWriterReplacedIsNeverMovedIntoPlace) {
  const std::string data = "fetched";
  qo::Stat stat;
  stat.set_path("/n.txt");
  stat.set_type(qo::REG);
  stat.set_status(qo::NORMAL);
  stat.set_length(static_cast<int64_t>(data.size()));
  stat.set_sha1("");
  stat.set_usn(1);
  CMorvexFile file(index::LocalTree::ByRoot(localRoot_).Id(), localRoot_, At(localRoot_, "n.txt"), stat, {});
  const int fd = file.CreateTemp();
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  // Another writer took the name over with bytes of the same length.
  ASSERT_EQ(::unlink(file.TempPath().c_str()), 0);
  test::WriteFile(file.TempPath(), "mixed!!");

  CSyncBatch list;
  file.ApplyNewFile(list);
  Resolver().ApplyBatch(store::kAuthority, list);

  EXPECT_FALSE(index::PathExists(At(localRoot_, "n.txt")));
  EXPECT_EQ(Record(localRoot_, "n.txt").Id(), -1);
  EXPECT_EQ(test::ReadFile(file.TempPath()), "mixed!!") << "the other writer's file is not this one's to delete";
}

TEST_F(GuardTest, ConflictNamesCountExactNamesAndSplitTheLastExtension) {
  // Recorded names that a pattern match would confuse with the ones asked.
  for (const char* recorded : {"x(Conflict).doc", "x(Conflict)-1.doc", "aXb(Conflict).txt", "a%(Conflict).txt"}) {
    test::WriteFile(At(localRoot_, recorded), "r");
  }
  IndexAll(localRoot_);
  const struct {
    const char* name;
    const char* conflict;
  } cases[] = {
      {"x.doc", "x(Conflict)-2.doc"},
      {"a_b.txt", "a_b(Conflict).txt"},
      {"a_.txt", "a_(Conflict).txt"},
      {".bashrc", ".bashrc(Conflict)"},
      {"archive.tar.gz", "archive.tar(Conflict).gz"},
      {"no extension", "no extension(Conflict)"},
  };
  for (const auto& c : cases) {
    qo::Stat stat;
    stat.set_path(std::string("/") + c.name);
    stat.set_type(qo::REG);
    stat.set_status(qo::NORMAL);
    stat.set_length(0);
    stat.set_mtime(0);
    stat.set_sha1("");
    stat.set_usn(1);
    const CMorvexFile file(index::LocalTree::ByRoot(localRoot_).Id(), localRoot_, At(localRoot_, c.name), stat, {});
    EXPECT_EQ(file.ConflictName(), At(localRoot_, c.conflict)) << c.name;
  }
  // A name already on disk but not recorded is skipped as well.
  test::WriteFile(At(localRoot_, "y(Conflict).txt"), "not indexed");
  qo::Stat stat;
  stat.set_path("/y.txt");
  stat.set_usn(1);
  stat.set_sha1("");
  const CMorvexFile file(index::LocalTree::ByRoot(localRoot_).Id(), localRoot_, At(localRoot_, "y.txt"), stat, {});
  EXPECT_EQ(file.ConflictName(), At(localRoot_, "y(Conflict)-1.txt"));
}

}  // namespace
}  // namespace morvex::sync
