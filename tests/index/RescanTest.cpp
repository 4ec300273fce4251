#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "Morvex.pb.h"
#include "core/BroadcastService.h"
#include "index/IndexFixture.h"
#include "index/RefreshThread.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/QoMsg.h"
#include "protocol/WorkerChannel.h"
#include "support/ServiceProcess.h"

namespace morvex::index {
namespace {

using namespace std::chrono_literals;
namespace uris = store::uris;

class RescanTest : public IndexFixture {
 protected:
  void SetUp() override {
    IndexFixture::SetUp();
    ASSERT_TRUE(commands_.Bind(protocol::endpoints::kCommand));
  }
  // Runs one rescan on this thread; the number of change notices it sent.
  int Rescan(CRefreshThread& refresher) {
    refresher.RefreshTree(tree_, rules_);
    int notices = 0;
    protocol::CQoMsg notice;
    while (notice.Recv(commands_, false, 50)) ++notices;
    return notices;
  }

  protocol::ZmqContext zmq_;
  protocol::ZmqSocket commands_{zmq_, ZMQ_PULL};
  IgnoreRules rules_{std::vector<std::string>{"/"}};
};

TEST_F(RescanTest, NewChangedAndVanishedPathsAndNothingTwice) {
  MakeDir("docs");
  Write("docs/a", "alpha");
  Write("docs/b", "beta");
  Write("notes.tmp", "ignored");
  Write("c.~morvex", "partial");
  CRefreshThread refresher(IndexContext{zmq_, [] { return std::string(kOwnUuid); }});
  EXPECT_EQ(Rescan(refresher), 1);
  EXPECT_EQ(Count(uris::File()), 4);  // the root, docs, a, b
  EXPECT_EQ(Record("").Type(), qo::DIR);
  EXPECT_EQ(Record("docs/a").Sha1(), "be76331b95dfc399cd776d2fc68021e0db03cc4f");

  const int64_t usn = MaxUsn();
  EXPECT_EQ(Rescan(refresher), 0);  // nothing changed: nothing written, nothing published
  EXPECT_EQ(MaxUsn(), usn);

  Write("docs/a", "alpha!");  // a different size
  SetLastWriteTime(At("docs/a"), Record("docs/a").Mtime());
  ASSERT_EQ(::unlink(At("docs/b").c_str()), 0);
  EXPECT_EQ(Rescan(refresher), 1);
  EXPECT_EQ(Record("docs/a").Length(), 6);
  const CQoFile gone = Record("docs/b");
  EXPECT_EQ(gone.Status(), qo::REMOVED);
  EXPECT_GT(gone.Usn(), usn);  // visible to a listing by usn
  EXPECT_EQ(gone.VClock()->At(0), 2);
}

TEST_F(RescanTest, WhatCannotBeReadIsNotTakenForDeleted) {
  MakeDir("locked");
  Write("locked/kept", "data");
  Write("top", "data");
  CRefreshThread refresher(IndexContext{zmq_, [] { return std::string(kOwnUuid); }});
  Rescan(refresher);
  ASSERT_EQ(Count(uris::File(), "status = 1"), 4);

  // The root gone, as when its disk is not mounted: nothing is marked
  // removed (peers would delete the files), and nothing changes once it
  // is back.
  ASSERT_EQ(std::system(("mv '" + root_ + "' '" + root_ + ".away'").c_str()), 0);
  EXPECT_EQ(Rescan(refresher), 0);
  EXPECT_EQ(Count(uris::File(), "status = 1"), 4);  // an unmounted or missing root deletes nothing
  ASSERT_EQ(std::system(("mv '" + root_ + ".away' '" + root_ + "'").c_str()), 0);
  EXPECT_EQ(Rescan(refresher), 0);
  EXPECT_EQ(Count(uris::File(), "status = 1"), 4);
}

// Sends a cancel for its tree when the rescan has finished `after` entries.
class CancelAfter : public core::CBroadcastReceiver {
 public:
  CancelAfter(protocol::ZmqContext& zmq, int32_t treeId, int after) : zmq_(zmq), treeId_(treeId), after_(after) {}
  bool OnReceive(int code, const std::any& parameter) override {
    if (code != core::BM_INDEX_PROGRESS) return true;
    done_ += std::any_cast<core::IndexEvent>(parameter).count;
    if (done_ == after_) {
      qo::MsgWinRefreshCancel cancel;
      cancel.set_local_tree_id(treeId_);
      protocol::PushOnce(zmq_, protocol::endpoints::kRefresher, qo::MC_WIN_REFRESH_CANCEL, &cancel);
    }
    return true;
  }

 private:
  protocol::ZmqContext& zmq_;
  int32_t treeId_;
  int after_;
  int done_ = 0;
};

TEST_F(RescanTest, ACancelledRescanKeepsWhatItFinished) {
  for (int i = 0; i < 300; ++i) Write("f" + std::to_string(i), std::string(100, 'x'));
  protocol::ZmqSocket exit(zmq_, ZMQ_PUB);
  ASSERT_TRUE(exit.Bind(protocol::endpoints::kPubExit));
  protocol::ZmqSocket ready(zmq_, ZMQ_PULL);
  ASSERT_TRUE(ready.Bind(protocol::endpoints::kInit));
  CancelAfter canceller(zmq_, tree_.Id(), 50);
  core::CBroadcastService::Instance().Register(core::BM_INDEX_PROGRESS, &canceller);

  CRefreshThread refresher(IndexContext{zmq_, [] { return std::string(kOwnUuid); }});
  refresher.Resume();
  protocol::CQoMsg started;
  ASSERT_TRUE(started.Recv(ready, false, 2000));
  qo::MsgWinRefresh refresh;
  refresh.add_local_tree_ids(tree_.Id());
  refresh.add_local_tree_ids(tree_.Id());  // asked twice while idle: queued once
  protocol::PushOnce(zmq_, protocol::endpoints::kRefresher, qo::MC_WIN_REFRESH, &refresh);
  protocol::CQoMsg notice;
  ASSERT_TRUE(notice.Recv(commands_, false, 10000));  // published: the finished inserts stay
  const int kept = Count(uris::File());
  EXPECT_GE(kept, 50);
  EXPECT_LT(kept, 301);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Count(uris::File()), kept);  // not rescanned again

  core::CBroadcastService::Instance().Unregister(core::BM_INDEX_PROGRESS, &canceller);
  while (!refresher.Finished()) {
    exit.SendFrame(nullptr, 0, false);
    std::this_thread::sleep_for(20ms);
  }
}

}  // namespace
}  // namespace morvex::index
