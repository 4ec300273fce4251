// The pass scheduler: four workers, never two passes of one relation (nor
// of one local tree) at once, requests during a pass folding into one more
// pass.
#include <any>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "core/BroadcastService.h"
#include "config/Settings.h"
#include "core/StatusBoard.h"
#include "index/Tree.h"
#include "peer/PeerFixture.h"
#include "protocol/Identity.h"
#include "support/LogCapture.h"
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
    router_ = std::make_unique<CSyncRouter>(*peer_, 0ms, [this](int32_t id) {
      passes_.Run(id);
      return PassOutcome::kComplete;
    });
    router_->Resume();
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
  int32_t AddRelation(const std::string& root, const std::string& peerTree = protocol::NewUuid()) {
    const std::string own = config_.Snapshot()->deviceUuid;
    std::error_code error;
    std::filesystem::create_directories(root, error);
    if (!index::LocalTree::ByRoot(root).Valid()) {
      EXPECT_EQ(index::CreateTree(protocol::NewUuid(), root, protocol::NewUuid(), own), 0);
    }
    store::CContentValues row;
    row.PutInt("tree_id", index::LocalTree::ByRoot(root).Id())
        .PutString("peer_device_uuid", own)
        .PutString("peer_tree_uuid", peerTree)
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

// A sync interval stored while the service runs takes effect at once.
TEST_F(SchedulerTest, TheStoredIntervalStartsPeriodicPasses) {
  const int32_t id = AddRelation(dir_ / "periodic");
  router_->FollowStoredInterval();
  std::this_thread::sleep_for(1500ms);
  const int before = passes_.Started(id);
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(passes_.Started(id), before);  // no period yet
  ASSERT_TRUE(config::StoreSetting(config::Setting::kSyncInterval, "1", config_.Snapshot()->deviceUuid));
  EXPECT_TRUE(passes_.WaitStarted(id, before + 1));
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
  const int32_t id = AddRelation(dir_.Path());
  ASSERT_GT(id, 0);
  std::atomic<int> passes{0};
  router_ = std::make_unique<CSyncRouter>(
      *peer_, 0ms,
      [&](int32_t) {
        // Incomplete the first time only.
        return passes.fetch_add(1) > 0 ? PassOutcome::kComplete : PassOutcome::kChangesLeft;
      },
      200ms);
  router_->Resume();

  // The start takes up every relation at once.
  ASSERT_TRUE(test::WaitFor([&] { return passes.load() >= 2; }, 5s)) << "the incomplete pass was not retried";
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(passes.load(), 2) << "a complete pass is not repeated";
  // The router shows the outcome it decided on.
  const core::RelationStatus shown = core::CStatusBoard::Instance().Relations()[id];
  EXPECT_TRUE(shown.lastPassOk);
  EXPECT_GT(shown.lastPassEnd, 0);
}

// Counts the failed passes told to the interfaces.
class FailureCount final : public core::CBroadcastReceiver {
 public:
  FailureCount() { core::CBroadcastService::Instance().Register(core::BM_PASS_FAILED, this); }
  ~FailureCount() override { core::CBroadcastService::Instance().Unregister(core::BM_PASS_FAILED, this); }
  bool OnReceive(int, const std::any&) override {
    ++count;
    return true;
  }
  std::atomic<int> count{0};
};

// A relation that keeps failing is told once, when it turns incomplete, and
// again only after a complete pass.
TEST_F(SchedulerTest, AFailedPassIsToldOnceNotOnEveryRetry) {
  StopRouter();
  const int32_t id = AddRelation(dir_.Path());
  ASSERT_GT(id, 0);
  FailureCount failures;
  std::atomic<int> passes{0};
  router_ = std::make_unique<CSyncRouter>(
      *peer_, 0ms,
      [&](int32_t) {
        // Fails three times, completes once, then fails again.
        const int pass = passes.fetch_add(1);
        return pass == 3 ? PassOutcome::kComplete : PassOutcome::kChangesLeft;
      },
      100ms);
  router_->Resume();
  ASSERT_TRUE(test::WaitFor([&] { return passes.load() >= 3; }, 5s));
  EXPECT_EQ(failures.count.load(), 1);
  // The complete pass asks for none: the next one comes from a request.
  ASSERT_TRUE(test::WaitFor([&] { return passes.load() >= 4; }, 5s));
  router_->RequestAll();
  ASSERT_TRUE(test::WaitFor([&] { return failures.count.load() == 2; }, 5s));
}

// The router's subscriptions to the publish ports of the online devices,
// against a real publisher: an XPUB socket that hands the test every
// subscription a connection makes.
class SubscriptionTest : public SchedulerTest {
 protected:
  void SetUp() override {
    SchedulerTest::SetUp();
    if (IsSkipped()) return;
    publisher_ = protocol::ZmqSocket(zmq_, ZMQ_XPUB);
    publisher_.SetOption(ZMQ_XPUB_VERBOSE, 1);  // one subscription message per connection
    ASSERT_TRUE(publisher_.Bind("tcp://127.0.0.1:*"));
    char endpoint[256] = {};
    size_t size = sizeof endpoint;
    ASSERT_EQ(zmq_getsockopt(publisher_.Handle(), ZMQ_LAST_ENDPOINT, endpoint, &size), 0);
    uri_ = endpoint;
    // Where a device that comes online is asked for its status.
    ASSERT_TRUE(statusRequests_.Bind(protocol::endpoints::kStatus));
  }
  void TearDown() override {
    StopRouter();
    publisher_.Close();
    statusRequests_.Close();
    SchedulerTest::TearDown();
  }
  // An online device that publishes at `pubUri` (default `uri_`); returns
  // its UUID.
  std::string AddOnlineDevice(const std::string& name, const std::string& pubUri = {}, bool trusted = true) {
    const std::string uuid = protocol::NewUuid();
    store::CContentValues row;
    row.PutString("uuid", uuid).PutString("name", name).PutInt("online", 1).PutInt("trust", trusted ? 1 : 0);
    row.PutString("route_uri", "tcp://127.0.0.1:1").PutString("pub_uri", pubUri.empty() ? uri_ : pubUri);
    EXPECT_GT(Resolver().Insert(store::uris::Device(), row, store::kConflictNone), 0);
    return uuid;
  }
  void Rename(const std::string& uuid, const std::string& name) {
    store::CContentValues values;
    values.PutString("name", name);
    EXPECT_EQ(Resolver().Update(store::uris::Device(), values, store::CSelection("uuid = ? ").AddString(uuid)), 1);
  }
  void SetOnline(const std::string& uuid, int online) {
    store::CContentValues values;
    values.PutInt("online", online);
    EXPECT_EQ(Resolver().Update(store::uris::Device(), values, store::CSelection("uuid = ? ").AddString(uuid)), 1);
  }
  // Subscription messages the publisher receives: the first within
  // `waitMs`, then any others that follow within 300 ms of the one before.
  int Subscriptions(int waitMs) {
    int count = 0;
    for (int wait = waitMs; publisher_.WaitForInput(wait); wait = 300) {
      protocol::ZmqFrame frame;
      if (!publisher_.RecvFrame(frame)) break;
      if (frame.Size() > 0 && *static_cast<const char*>(frame.Data()) == 1) ++count;
    }
    return count;
  }
  // Waits until the router has handled `count` Device changes (each one
  // logged as received before the next is taken up).
  bool WaitDeviceChanges(int count) {
    return test::WaitFor([&] { return log_.Count("SyncRouter Receive MC_DEVICE_CHANGE") >= count; }, 5s);
  }

  test::LogCapture log_;
  protocol::ZmqSocket statusRequests_{zmq_, ZMQ_PULL};
  protocol::ZmqSocket publisher_;
  std::string uri_;
};

TEST_F(SubscriptionTest, OneConnectionPerPublishAddressOfTrustedDevicesAndNoRepeatedConnectLines) {
  const std::string first = AddOnlineDevice("first");
  const std::string second = AddOnlineDevice("second");
  // An address that cannot be connected is tried at every reconcile, and
  // said once.
  AddOnlineDevice("broken", "bogus://nowhere");
  // A stranger names its publish address itself: it is never connected.
  AddOnlineDevice("stranger", "tcp://127.0.0.1:7", false);
  // Every Device change reconciles the subscriptions again.
  for (int round = 0; round < 3; ++round) {
    Rename(first, "first " + std::to_string(round));
    Rename(second, "second " + std::to_string(round));
  }
  // The start's own reconcile, four inserts and six renames; one more
  // change is taken up only after all of them are done.
  ASSERT_TRUE(WaitDeviceChanges(11));
  Rename(first, "last");
  ASSERT_TRUE(WaitDeviceChanges(12));

  EXPECT_EQ(log_.Count("Connect " + uri_), 1);
  EXPECT_EQ(log_.Count("Connect bogus://nowhere"), 1);
  EXPECT_EQ(log_.Count("Connect tcp://127.0.0.1:7"), 0);
  EXPECT_EQ(Subscriptions(1000), 1) << "one connection for one publish address";
}

TEST_F(SubscriptionTest, AnOversizedPublishFrameDropsTheConnectionAndLegalNoticesStillArrive) {
  const std::string peerTree = protocol::NewUuid();
  const int32_t relation = AddRelation(dir_.Path() + "/tree", peerTree);
  ASSERT_GT(relation, 0);
  ASSERT_EQ(zmq_socket_monitor(publisher_.Handle(), "inproc://subscription-test-monitor", ZMQ_EVENT_DISCONNECTED), 0);
  protocol::ZmqSocket monitor(zmq_, ZMQ_PAIR);
  ASSERT_TRUE(monitor.Connect("inproc://subscription-test-monitor"));
  const std::string publisherUuid = AddOnlineDevice("publisher");
  ASSERT_EQ(Subscriptions(5000), 1);

  qo::MsgPubFileChange change;
  change.set_publisher(protocol::NewUuid());
  change.set_sync_uuid(protocol::NewUuid());
  change.set_tree_uuid(peerTree);
  ASSERT_TRUE(publisher_.SendMsg(qo::MC_PUB_FILE_CHANGE, &change));
  ASSERT_TRUE(passes_.WaitStarted(relation, 1)) << "a legal notice asks for a pass";
  passes_.Release(relation);

  const std::string oversized(CSyncRouter::kMaxPublishFrame + 1, 'x');
  ASSERT_TRUE(publisher_.SendFrame(oversized, false));
  EXPECT_TRUE(monitor.WaitForInput(5000)) << "the subscriber drops a connection that sends an oversized frame";

  // ZeroMQ does not reconnect after a protocol error; the subscription is
  // made again when the device comes back online.
  SetOnline(publisherUuid, 0);
  ASSERT_TRUE(test::WaitFor([&] { return log_.Count("Disconnect " + uri_) == 1; }, 5s));
  SetOnline(publisherUuid, 1);
  ASSERT_EQ(Subscriptions(5000), 1);
  ASSERT_TRUE(publisher_.SendMsg(qo::MC_PUB_FILE_CHANGE, &change));
  ASSERT_TRUE(passes_.WaitStarted(relation, 2));
  zmq_socket_monitor(publisher_.Handle(), nullptr, 0);
}

TEST_F(SubscriptionTest, APublisherThatGoesAwayMarksItsDeviceOffline) {
  const std::string leaving = AddOnlineDevice("leaving");
  ASSERT_EQ(Subscriptions(5000), 1);
  publisher_.Close();
  const auto online = [&] {
    return Resolver().QueryInt(store::uris::Device(), "online", -1, store::CSelection("uuid = ? ").AddString(leaving));
  };
  EXPECT_TRUE(test::WaitFor([&] { return online() == 0; }, 5s)) << "still online after its connection dropped";
}

}  // namespace
}  // namespace morvex::sync
