#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "Morvex.pb.h"
#include "index/DirectoryWatcher.h"
#include "index/IndexFixture.h"
#include "index/IndexThread.h"
#include "index/RefreshThread.h"
#include "index/SyncDirManager.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/QoMsg.h"
#include "support/LogCapture.h"
#include "support/ServiceProcess.h"

namespace morvex::index {
namespace {

using namespace std::chrono_literals;
namespace uris = store::uris;

// Records every call as "kind path" (a rename as "rename old -> new").
class Recorder : public CDirectoryChangeHandler {
 public:
  void OnAdded(const std::string& p) override { Note("added " + p); }
  void OnRemoved(const std::string& p) override { Note("removed " + p); }
  void OnModified(const std::string& p) override { Note("modified " + p); }
  void OnNameChanged(const std::string& a, const std::string& b) override { Note("rename " + a + " -> " + b); }
  bool Saw(const std::string& event) {
    return test::WaitFor([&] {
      std::lock_guard lock(mutex_);
      return std::find(events_.begin(), events_.end(), event) != events_.end();
    }, 5s);
  }

 private:
  void Note(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::mutex mutex_;
  std::vector<std::string> events_;
};

TEST(DirectoryWatcher, ReportsChangesThroughoutTheTree) {
  test::TempDir dir;
  const std::string root = dir / "root";
  const std::string outside = dir / "outside";
  ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((root + "/sub").c_str(), 0755), 0);
  auto recorder = std::make_shared<Recorder>();
  CDirectoryWatcher watcher;
  ASSERT_EQ(watcher.AddWatch(root, recorder), 0);
  EXPECT_EQ(watcher.AddWatch(dir / "missing", recorder), ENOENT);

  test::WriteFile(root + "/sub/a", "1");
  EXPECT_TRUE(recorder->Saw("added " + root + "/sub/a"));
  test::WriteFile(root + "/sub/a", "22");
  EXPECT_TRUE(recorder->Saw("modified " + root + "/sub/a"));
  ASSERT_EQ(::rename((root + "/sub/a").c_str(), (root + "/b").c_str()), 0);
  EXPECT_TRUE(recorder->Saw("rename " + root + "/sub/a -> " + root + "/b"));
  ASSERT_EQ(::rename((root + "/b").c_str(), (outside + "/b").c_str()), 0);
  EXPECT_TRUE(recorder->Saw("removed " + root + "/b"));
  ASSERT_EQ(::rename((outside + "/b").c_str(), (root + "/c").c_str()), 0);
  EXPECT_TRUE(recorder->Saw("added " + root + "/c"));
  ASSERT_EQ(::unlink((root + "/c").c_str()), 0);
  EXPECT_TRUE(recorder->Saw("removed " + root + "/c"));
  test::WriteFile(root + "/d.~morvex", "partial");
  ASSERT_EQ(::rename((root + "/d.~morvex").c_str(), (root + "/d").c_str()), 0);
  EXPECT_TRUE(recorder->Saw("rename " + root + "/d.~morvex -> " + root + "/d"));

  // A folder moved in is watched from then on, also at depth.
  ASSERT_EQ(::mkdir((outside + "/moved").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((outside + "/moved/deep").c_str(), 0755), 0);
  ASSERT_EQ(::rename((outside + "/moved").c_str(), (root + "/moved").c_str()), 0);
  EXPECT_TRUE(recorder->Saw("added " + root + "/moved"));
  std::this_thread::sleep_for(100ms);
  test::WriteFile(root + "/moved/deep/e", "e");
  EXPECT_TRUE(recorder->Saw("added " + root + "/moved/deep/e"));
  // A folder renamed inside the tree reports below its new name.
  ASSERT_EQ(::rename((root + "/moved").c_str(), (root + "/renamed").c_str()), 0);
  std::this_thread::sleep_for(100ms);
  test::WriteFile(root + "/renamed/deep/f", "f");
  EXPECT_TRUE(recorder->Saw("added " + root + "/renamed/deep/f"));
  EXPECT_TRUE(watcher.RemoveWatch(root));
  EXPECT_FALSE(watcher.RemoveWatch(root));
}

// One root inside another: the trees share the watches of the inner
// folders. Whichever goes first, the other keeps all of its own.
TEST(DirectoryWatcher, OverlappingTreesShareWatchesUntilTheLastOneLetsGo) {
  for (const bool innerGoesFirst : {true, false}) {
    SCOPED_TRACE(innerGoesFirst ? "inner removed" : "outer removed");
    test::TempDir dir;
    const std::string outer = dir / "outer";
    const std::string inner = outer + "/inner";
    for (const std::string& folder : {outer, inner, inner + "/deep", inner + "/away"}) {
      ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    }
    auto outerSeen = std::make_shared<Recorder>();
    auto innerSeen = std::make_shared<Recorder>();
    CDirectoryWatcher watcher;
    ASSERT_EQ(watcher.AddWatch(outer, outerSeen), 0);
    ASSERT_EQ(watcher.AddWatch(inner, innerSeen), 0);

    test::WriteFile(inner + "/deep/both", "1");
    EXPECT_TRUE(outerSeen->Saw("added " + inner + "/deep/both"));
    EXPECT_TRUE(innerSeen->Saw("added " + inner + "/deep/both"));
    // A folder moved out of the inner tree stays in the outer one.
    ASSERT_EQ(::rename((inner + "/away").c_str(), (outer + "/away").c_str()), 0);
    EXPECT_TRUE(outerSeen->Saw("rename " + inner + "/away -> " + outer + "/away"));
    EXPECT_TRUE(innerSeen->Saw("removed " + inner + "/away"));
    test::WriteFile(outer + "/away/moved", "2");
    EXPECT_TRUE(outerSeen->Saw("added " + outer + "/away/moved"));

    ASSERT_TRUE(watcher.RemoveWatch(innerGoesFirst ? inner : outer));
    auto& kept = innerGoesFirst ? *outerSeen : *innerSeen;
    test::WriteFile(inner + "/deep/after", "3");
    EXPECT_TRUE(kept.Saw("added " + inner + "/deep/after"));
    ASSERT_EQ(::mkdir((inner + "/new").c_str(), 0755), 0);
    EXPECT_TRUE(kept.Saw("added " + inner + "/new"));  // reported once its watch exists
    test::WriteFile(inner + "/new/file", "4");
    EXPECT_TRUE(kept.Saw("added " + inner + "/new/file"));
  }
}

// A running indexer with its exit publisher, on a private ZeroMQ context.
class IndexerTest : public IndexFixture {
 protected:
  void SetUp() override {
    IndexFixture::SetUp();
    ASSERT_TRUE(exit_.Bind(protocol::endpoints::kPubExit));
    ASSERT_TRUE(ready_.Bind(protocol::endpoints::kInit));
    ASSERT_TRUE(commands_.Bind(protocol::endpoints::kCommand));
    indexer_ = std::make_unique<CIndexThread>(IndexContext{zmq_, [] { return std::string(kOwnUuid); }}, 300ms);
    indexer_->Resume();
    protocol::CQoMsg started;
    ASSERT_TRUE(started.Recv(ready_, false, 2000));
    push_.Connect(protocol::endpoints::kIndexer);
  }
  void TearDown() override {
    while (indexer_ && !indexer_->Finished()) {
      exit_.SendFrame(nullptr, 0, false);
      std::this_thread::sleep_for(20ms);
    }
    indexer_.reset();
    IndexFixture::TearDown();
  }
  void Report(std::initializer_list<std::string> relatives) {
    qo::MsgWinReadDirChange change;
    change.set_tree_id(tree_.Id());
    for (const std::string& relative : relatives) change.add_paths(At(relative));
    push_.SendMsg(qo::MC_WIN_READ_DIR_CHANGE, &change);
  }
  bool Published(std::chrono::milliseconds wait = 3s) {
    protocol::CQoMsg notice;
    return notice.Recv(commands_, false, static_cast<int>(wait.count()));
  }

  protocol::ZmqContext zmq_;
  protocol::ZmqSocket exit_{zmq_, ZMQ_PUB};
  protocol::ZmqSocket ready_{zmq_, ZMQ_PULL};
  protocol::ZmqSocket commands_{zmq_, ZMQ_PULL};
  protocol::ZmqSocket push_{zmq_, ZMQ_PUSH};
  std::unique_ptr<CIndexThread> indexer_;
};

TEST_F(IndexerTest, NewFoldersAreWalkedWholeEvenWhenSomeOfTheirContentWasReported) {
  MakeDir("fresh");
  MakeDir("fresh/deep");
  Write("fresh/deep/x", "x");
  Report({"fresh"});  // its content was created before anyone watched it
  ASSERT_TRUE(Published());
  EXPECT_EQ(Record("fresh/deep/x").Status(), qo::NORMAL);

  MakeDir("partly");
  Write("partly/seen", "1");
  Write("partly/unseen", "2");
  // Entries made before the folder's watch existed are never reported,
  // even when later ones are.
  Report({"partly", "partly/seen"});
  ASSERT_TRUE(Published());
  EXPECT_EQ(Record("partly/seen").Status(), qo::NORMAL);
  EXPECT_EQ(Record("partly").Type(), qo::DIR);
  EXPECT_EQ(Record("partly/unseen").Status(), qo::NORMAL);

  // A known folder whose content was reported is not walked again.
  Write("partly/later-unseen", "3");
  Write("partly/later-seen", "4");
  Report({"partly", "partly/later-seen"});
  ASSERT_TRUE(Published());
  EXPECT_EQ(Record("partly/later-seen").Status(), qo::NORMAL);
  EXPECT_EQ(Record("partly/later-unseen").Id(), -1);

  Report({"notes.tmp", "y.~morvex"});
  EXPECT_FALSE(Published(500ms));  // only ignored and temporary paths: nothing happens
}

TEST_F(IndexerTest, AFileStillBeingWrittenIsRetriedUntilItCanBeRead) {
  test::LogCapture log;
  std::atomic<bool> writing{true};
  Write("growing", "");
  std::thread writer([&] {
    while (writing) {
      FILE* file = std::fopen(At("growing").c_str(), "ab");
      std::fputs(std::string(64 * 1024, 'g').c_str(), file);
      std::fclose(file);
      // Paced, so that the file grows while it is read but stays small:
      // unpaced, a fast disk made it gigabytes long and its final read
      // outlasted the wait below.
      std::this_thread::sleep_for(1ms);
    }
  });
  // Large enough that it grows while it is read.
  while (GetFileInfo(At("growing")).length < (8 << 20)) std::this_thread::sleep_for(5ms);
  Report({"growing"});
  EXPECT_TRUE(test::WaitFor([&] { return log.Has(google::GLOG_WARNING, "will retry in 60s"); }, 5s));
  writing = false;
  writer.join();
  EXPECT_TRUE(test::WaitFor([&] { return Record("growing").Id() != -1; }, 5s));  // the retry tick got it
  EXPECT_EQ(Record("growing").Length(), GetFileInfo(At("growing")).length);
}

// The full rescan and the watch path (watcher, indexer and its walk of new
// folders) give every path the same verdict.
TEST_F(IndexerTest, RescanAndWatchPathIgnoreTheSamePaths) {
  struct Case {
    std::string path;  // a folder ends in "/"; under "moved/" it is made outside and moved in whole
    bool kept;
  };
  const std::vector<Case> cases = {
      {"notes.txt", true},        {"a.tmp", false},           {"B.TMP", false},         {"~$report.docx", false},
      {"temp/", true},            {"temp/x.tmp", false},      {"temp/ok", true},        {"~$dir/", false},
      {"~$dir/f", false},         {"dir.tmp/", false},        {"dir.tmp/inner", true},  {"moved/", true},
      {"moved/inside.tmp", false}, {"moved/~$lock", false},   {"moved/deep/", true},    {"moved/deep/f", true},
      {"moved/deep.tmp/", false}, {"moved/deep.tmp/g", true},
  };
  const auto make = [](const std::string& at) {
    if (at.back() == '/') {
      ASSERT_EQ(::mkdir(at.c_str(), 0755), 0) << at;
    } else {
      test::WriteFile(at, "x");
    }
  };
  const auto verdicts = [&] {
    std::vector<std::string> wrong;
    for (const Case& c : cases) {
      const std::string relative = c.path.back() == '/' ? c.path.substr(0, c.path.size() - 1) : c.path;
      const CQoFile record = Record(relative);
      if ((record.Id() != -1 && record.Status() == qo::NORMAL) != c.kept) wrong.push_back(c.path);
    }
    return wrong;
  };

  protocol::ZmqSocket refresher(zmq_, ZMQ_PULL);
  ASSERT_TRUE(refresher.Bind(protocol::endpoints::kRefresher));
  CSyncDirManager manager(IndexContext{zmq_, [] { return std::string(kOwnUuid); }}, 100ms);
  manager.Start();
  const std::string outside = dir_ / "outside";
  ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
  for (const Case& c : cases) make(c.path.rfind("moved/", 0) == 0 ? outside + "/" + c.path : At(c.path));
  ASSERT_EQ(::rename((outside + "/moved").c_str(), At("moved").c_str()), 0);
  Write("zz-last", "x");  // reported after everything above
  ASSERT_TRUE(test::WaitFor([&] { return Record("zz-last").Id() != -1; }, 10s));
  EXPECT_EQ(verdicts(), std::vector<std::string>{}) << "watch path";
  // An ignored folder moved away: what was kept below it goes with it, as
  // a rescan would find.
  ASSERT_EQ(::rename(At("dir.tmp").c_str(), (outside + "/dir.tmp").c_str()), 0);
  Write("zz-later", "x");
  ASSERT_TRUE(test::WaitFor([&] { return Record("zz-later").Id() != -1; }, 10s));
  EXPECT_EQ(Record("dir.tmp/inner").Status(), qo::REMOVED);
  manager.Stop();
  ASSERT_EQ(::rename((outside + "/dir.tmp").c_str(), At("dir.tmp").c_str()), 0);

  Resolver().Delete(uris::File(), store::CSelection());
  CRefreshThread rescan(IndexContext{zmq_, [] { return std::string(kOwnUuid); }});
  ASSERT_TRUE(rescan.RefreshTree(tree_, IgnoreRules()));
  EXPECT_EQ(verdicts(), std::vector<std::string>{}) << "full rescan";
}

TEST_F(IndexFixture, WatchManagerFollowsTheTreeTable) {
  test::LogCapture log;
  protocol::ZmqContext zmq;
  protocol::ZmqSocket refresher(zmq, ZMQ_PULL);
  ASSERT_TRUE(refresher.Bind(protocol::endpoints::kRefresher));
  protocol::ZmqSocket indexer(zmq, ZMQ_PULL);
  ASSERT_TRUE(indexer.Bind(protocol::endpoints::kIndexer));
  const auto refreshIds = [&] {
    protocol::CQoMsg message;
    qo::MsgWinRefresh refresh;
    if (!message.Recv(refresher, false, 2000) || !message.ParseBody(refresh)) return std::vector<int32_t>{-1};
    return std::vector<int32_t>(refresh.local_tree_ids().begin(), refresh.local_tree_ids().end());
  };

  CSyncDirManager manager(IndexContext{zmq, [] { return std::string(kOwnUuid); }}, 200ms);
  manager.Start();
  EXPECT_EQ(refreshIds(), std::vector<int32_t>{tree_.Id()});
  EXPECT_TRUE(log.Has(google::GLOG_INFO, "Watch " + root_));

  Write("changed", "1");
  Write("changed", "22");  // written twice, reported once
  protocol::CQoMsg batch;
  ASSERT_TRUE(batch.Recv(indexer, false, 3000));
  qo::MsgWinReadDirChange change;
  ASSERT_TRUE(batch.ParseBody(change));
  EXPECT_EQ(change.tree_id(), tree_.Id());
  EXPECT_EQ(std::vector<std::string>(change.paths().begin(), change.paths().end()), std::vector<std::string>{At("changed")});

  ASSERT_EQ(::mkdir((dir_ / "second").c_str(), 0755), 0);
  ASSERT_EQ(CreateTree(kSyncUuid, dir_ / "second", "0d7c8a3e-1b2c-4d5e-8f60-0000000000b1", kOwnUuid), 0);
  const LocalTree second = LocalTree::ByRoot(dir_ / "second");
  EXPECT_EQ(refreshIds(), std::vector<int32_t>{second.Id()});  // only the new tree

  ASSERT_EQ(DeleteTree(second), 0);
  EXPECT_TRUE(log.Has(google::GLOG_INFO, "Unwatch " + (dir_ / "second")));
  manager.Stop();
}

}  // namespace
}  // namespace morvex::index
