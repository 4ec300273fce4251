// The pass scheduler: four workers, never two passes of one relation (nor
// of one local tree) at once, requests during a pass folding into one more
// pass.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "core/StatusBoard.h"
#include "index/Tree.h"
#include "peer/PeerFixture.h"
#include "protocol/Identity.h"
#include "support/TempDir.h"
#include "support/ServiceProcess.h"
#include "protocol/WorkerChannel.h"
#include "sync/SyncRouter.h"

namespace morvex::sync {
namespace {

using namespace std::chrono_literals;

// Passes that run until the test lets them end.
class HeldPasses {
 public:
  void Run(int32_t syncId) {
    std::unique_lock lock(mutex_);
    ++started_[syncId];
    ++running_;
    maxRunning_ = std::max(maxRunning_, running_);
    if (running_ids_.count(syncId) != 0) overlapped_ = true;
    for (const int32_t other : running_ids_) together_.insert({std::min(syncId, other), std::max(syncId, other)});
    running_ids_.insert(syncId);
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_.count(syncId) != 0 && released_[syncId] > 0; });
    --released_[syncId];
    running_ids_.erase(syncId);
    --running_;
    changed_.notify_all();
  }
  void Release(int32_t syncId) {
    std::lock_guard lock(mutex_);
    ++released_[syncId];
    changed_.notify_all();
  }
  void ReleaseAll() {
    std::lock_guard lock(mutex_);
    for (int32_t id = 0; id < 100; ++id) released_[id] += 100;
    changed_.notify_all();
  }
  // Waits until `syncId` has started `times` passes; false after 5 s.
  bool WaitStarted(int32_t syncId, int times) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return started_[syncId] >= times; });
  }
  // Waits until `count` passes run at once; false after 5 s.
  bool WaitRunning(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return running_ >= count; });
  }
  int Started(int32_t syncId) {
    std::lock_guard lock(mutex_);
    return started_[syncId];
  }
  int Running() {
    std::lock_guard lock(mutex_);
    return running_;
  }
  // True when passes of `a` and `b` ran at the same time.
  bool RanTogether(int32_t a, int32_t b) {
    std::lock_guard lock(mutex_);
    return together_.count({std::min(a, b), std::max(a, b)}) != 0;
  }
  bool Overlapped() {
    std::lock_guard lock(mutex_);
    return overlapped_ || maxRunning_ > CSyncRouter::kWorkerCount;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int32_t, int> started_;
  std::map<int32_t, int> released_;
  std::set<int32_t> running_ids_;
  std::set<std::pair<int32_t, int32_t>> together_;
  int running_ = 0;
  int maxRunning_ = 0;
  bool overlapped_ = false;
};

class SchedulerTest : public peer::PeerFixture {
 protected:
  void SetUp() override {
    PeerFixture::SetUp();
    if (IsSkipped()) return;
    router_ = std::make_unique<CSyncRouter>(*peer_, 0ms, [this](int32_t id) { passes_.Run(id); });
    std::this_thread::sleep_for(200ms);  // bound, workers ready
  }
  void TearDown() override {
    StopRouter();
    PeerFixture::TearDown();
  }
  void StopRouter() {
    if (!router_) return;
    passes_.ReleaseAll();
    while (!router_->Finished()) {
      exit_->SendFrame(nullptr, 0, false);
      std::this_thread::sleep_for(20ms);
    }
    router_.reset();
  }
  void Request(int32_t syncId) {
    qo::MsgWinSync sync;
    sync.set_sync_id(syncId);
    ASSERT_TRUE(protocol::PushOnce(zmq_, protocol::endpoints::kSyncer, qo::MC_WIN_SYNC, &sync));
  }

  // A new relation of the local tree at `root` (made on first use) with
  // some tree on this device; returns its Sync id.
  int32_t AddRelation(const std::string& root) {
    const std::string own = config_.Snapshot()->deviceUuid;
    std::error_code error;
    std::filesystem::create_directories(root, error);
    if (!index::LocalTree::ByRoot(root).Valid()) {
      EXPECT_EQ(index::CreateTree(protocol::NewUuid(), root, protocol::NewUuid(), own), 0);
    }
    store::CContentValues row;
    row.PutInt("tree_id", index::LocalTree::ByRoot(root).Id())
        .PutString("peer_device_uuid", own)
        .PutString("peer_tree_uuid", protocol::NewUuid())
        .PutString("peer_tree_root", "/elsewhere")
        .PutInt("clock", 1)
        .PutInt("peer_clock", 0)
        .PutString("creator", own)
        .PutString("ctime", "now")
        .PutInt64("last_sync", 0);
    return static_cast<int32_t>(Resolver().Insert(store::uris::Sync(), row, store::kConflictNone));
  }

  HeldPasses passes_;
  test::TempDir dir_;
  std::unique_ptr<CSyncRouter> router_;
};

TEST_F(SchedulerTest, FourRelationsRunAtOnceAndTheFifthWaitsForAFreeWorker) {
  // Requests from separate senders may arrive in any order: whichever four
  // come first run, the fifth waits.
  for (int32_t id = 1; id <= 5; ++id) Request(id);
  ASSERT_TRUE(passes_.WaitRunning(4));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(passes_.Running(), 4);
  int32_t waiting = 0;
  int32_t running = 0;
  for (int32_t id = 1; id <= 5; ++id) (passes_.Started(id) == 0 ? waiting : running) = id;
  ASSERT_NE(waiting, 0);

  passes_.Release(running);
  ASSERT_TRUE(passes_.WaitStarted(waiting, 1));
  EXPECT_EQ(passes_.Started(running), 1);
  EXPECT_FALSE(passes_.Overlapped());
}

TEST_F(SchedulerTest, RequestsDuringAPassFoldIntoExactlyOneMorePass) {
  Request(7);
  ASSERT_TRUE(passes_.WaitStarted(7, 1));
  for (int i = 0; i < 3; ++i) Request(7);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(passes_.Started(7), 1) << "never two passes of one relation at once";

  passes_.Release(7);
  ASSERT_TRUE(passes_.WaitStarted(7, 2));
  passes_.Release(7);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(passes_.Started(7), 2);
  EXPECT_FALSE(passes_.Overlapped());
}

TEST_F(SchedulerTest, ARequestForAWaitingRelationIsDropped) {
  for (int32_t id = 1; id <= 4; ++id) Request(id);
  for (int32_t id = 1; id <= 4; ++id) ASSERT_TRUE(passes_.WaitStarted(id, 1));
  // Now every worker is busy: 9 waits, and asking again changes nothing.
  Request(9);
  Request(9);
  Request(9);
  std::this_thread::sleep_for(200ms);
  passes_.Release(1);
  ASSERT_TRUE(passes_.WaitStarted(9, 1));
  passes_.Release(9);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(passes_.Started(9), 1);
}

// A device in the middle of a chain has two relations on one tree: their
// passes would write the same files, so they take turns; another tree's
// pass runs beside them.
TEST_F(SchedulerTest, TwoRelationsOfOneTreeTakeTurnsWhileAnotherTreeRunsBeside) {
  const int32_t left = AddRelation(dir_.Path() + "/middle");
  const int32_t right = AddRelation(dir_.Path() + "/middle");
  const int32_t other = AddRelation(dir_.Path() + "/other");
  ASSERT_GT(left, 0);
  ASSERT_GT(right, 0);
  ASSERT_GT(other, 0);
  Request(left);
  Request(right);
  Request(other);
  ASSERT_TRUE(passes_.WaitStarted(other, 1));
  ASSERT_TRUE(test::WaitFor([&] { return passes_.Started(left) + passes_.Started(right) > 0; }, 5s));
  const int32_t first = passes_.Started(left) > 0 ? left : right;
  const int32_t second = first == left ? right : left;
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(passes_.Started(second), 0) << "its tree has a pass running";
  EXPECT_TRUE(passes_.RanTogether(first, other)) << "passes of different trees run in parallel";

  passes_.Release(first);
  ASSERT_TRUE(passes_.WaitStarted(second, 1)) << "the second relation of the tree runs once the first ends";
  passes_.Release(second);
  passes_.Release(other);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(passes_.RanTogether(left, right));
  EXPECT_EQ(passes_.Started(left), 1);
  EXPECT_EQ(passes_.Started(right), 1);
}

// A pass that ends incomplete (its peer vanished mid-way) is tried again
// by itself while the peer is online; a complete one is not.
TEST_F(SchedulerTest, AnIncompletePassIsRetriedWhileThePeerIsOnline) {
  StopRouter();
  const std::string own = config_.Snapshot()->deviceUuid;
  const std::string root = dir_.Path();
  ASSERT_EQ(index::CreateTree(protocol::NewUuid(), root, protocol::NewUuid(), own), 0);
  store::CContentValues row;
  row.PutInt("tree_id", index::LocalTree::ByRoot(root).Id())
      .PutString("peer_device_uuid", own)
      .PutString("peer_tree_uuid", protocol::NewUuid())
      .PutString("peer_tree_root", "/elsewhere")
      .PutInt("clock", 1)
      .PutInt("peer_clock", 0)
      .PutString("creator", own)
      .PutString("ctime", "now")
      .PutInt64("last_sync", 0);
  ASSERT_GT(Resolver().Insert(store::uris::Sync(), row, store::kConflictNone), 0);
  std::atomic<int> passes{0};
  router_ = std::make_unique<CSyncRouter>(
      *peer_, 0ms,
      [&](int32_t syncId) {
        // Incomplete the first time only.
        const bool ok = passes.fetch_add(1) > 0;
        core::CStatusBoard::Instance().PassEnded(syncId, ok, 1);
      },
      200ms);

  // The start takes up every relation at once.
  ASSERT_TRUE(test::WaitFor([&] { return passes.load() >= 2; }, 5s)) << "the incomplete pass was not retried";
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(passes.load(), 2) << "a complete pass is not repeated";
}

}  // namespace
}  // namespace morvex::sync
