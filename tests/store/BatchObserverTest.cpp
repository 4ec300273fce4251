#include <gtest/gtest.h>

#include <thread>

#include "store/ObserverHelpers.h"
#include "store/Operations.h"
#include "store/StoreFixture.h"

namespace morvex::store {
namespace {

class FixedCondition : public COperationCondition {
 public:
  explicit FixedCondition(bool result) : result_(result) {}
  bool Run() override { return result_; }

 private:
  bool result_;
};

class BatchTest : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    ASSERT_TRUE(Db().Exec("INSERT INTO Tree (id, tree_uuid, tree_root) VALUES (1, 't1', '/a')"));
    ASSERT_TRUE(Db().Exec("INSERT INTO Device (uuid, trust) VALUES ('d1', 1), ('d2', 1)"));
    Resolver().RegisterObserver(uris::File(), false, &files_);
    Resolver().RegisterObserver(uris::Tree(), false, &trees_);
    Resolver().RegisterObserver(uris::Device(), false, &devices_);
  }
  void TearDown() override {
    Resolver().UnregisterObserver(uris::File(), &files_);
    Resolver().UnregisterObserver(uris::Tree(), &trees_);
    Resolver().UnregisterObserver(uris::Device(), &devices_);
    StoreFixture::TearDown();
  }
  CountingObserver files_, trees_, devices_;
};

TEST_F(BatchTest, ChangedUrisAreNotifiedOnceAfterTheCommit) {
  COperationList batch;
  batch.NewInsert(uris::File(), kConflictNone).GetValues()->PutInt("tree_id", 1).PutString("path", "/x");
  batch.NewUpdate(uris::Tree(), CSelection("id = ? ").AddInt(1)).GetValues()->PutString("sync_uuid", "s");
  batch.NewUpdate(uris::Device(), CSelection("uuid = ? ").AddString("d1")).GetValues()->PutInt("online", 1);
  batch.NewUpdate(uris::Device(), CSelection("uuid = ? ").AddString("d2")).GetValues()->PutInt("online", 1);
  batch.NewUpdate(uris::Device(), CSelection("uuid = ? ").AddString("none")).GetValues()->PutInt("online", 1);
  EXPECT_EQ(Resolver().ApplyBatch(kAuthority, batch), 1 + 1 + 2);
  EXPECT_EQ(files_.changes, 1);
  EXPECT_EQ(trees_.changes, 1);
  EXPECT_EQ(devices_.changes, 1);
  EXPECT_EQ(batch.Size(), 5);  // applying does not empty the list
  EXPECT_EQ(batch.At(-1), nullptr);
  EXPECT_EQ(batch.At(batch.Size()), nullptr);
}

TEST_F(BatchTest, GuardsDecideEachOperationAndFailuresDoNotStopTheBatch) {
  COperationList batch;
  auto& skipped = batch.NewInsert(uris::File(), kConflictNone);
  skipped.GetValues()->PutInt("tree_id", 1).PutString("path", "/skipped");
  skipped.SetCondition(std::make_unique<FixedCondition>(false));
  batch.NewInsert(uris::Tree(), kConflictNone).GetValues()->PutString("tree_uuid", "t1");  // duplicate: fails
  auto& guarded = batch.NewInsert(uris::File(), kConflictNone);
  guarded.GetValues()->PutInt("tree_id", 1).PutString("path", "/kept");
  guarded.SetCondition(std::make_unique<FixedCondition>(true));
  EXPECT_EQ(Resolver().ApplyBatch(kAuthority, batch), 1);
  EXPECT_EQ(Count(uris::File(), "path = '/kept'"), 1);
  EXPECT_EQ(Count(uris::File(), "path = '/skipped'"), 0);
  EXPECT_EQ(trees_.changes, 0);

  COperationList nothing;
  auto& refused = nothing.NewDelete(uris::Device(), CSelection("trust = ? ").AddInt(1));
  refused.SetCondition(std::make_unique<FixedCondition>(false));
  EXPECT_EQ(Resolver().ApplyBatch(kAuthority, nothing), 0);
  EXPECT_EQ(devices_.changes, 0);
}

TEST_F(BatchTest, AnObserverRegisteredTwiceIsCalledTwiceAndUnregisteredAtOnce) {
  CountingObserver twice;
  Resolver().RegisterObserver(uris::Device(), false, &twice);
  Resolver().RegisterObserver(uris::Device(), false, &twice);
  ASSERT_EQ(Resolver().Delete(uris::Device(), CSelection("uuid = 'd2'")), 1);
  EXPECT_EQ(twice.changes, 2);
  EXPECT_EQ(twice.lastDeviceCount, 1);  // the query ran after the commit
  Resolver().UnregisterObserver(uris::Device(), &twice);
  ASSERT_EQ(Resolver().Delete(uris::Device(), CSelection("uuid = 'd1'")), 1);
  EXPECT_EQ(twice.changes, 2);
}

TEST_F(BatchTest, HandlerObserversRunOnTheLoopThreadAndNotAfterTheirWindowCloses) {
  platform::MessageLoop loop;
  platform::MessageLoop::Window window;
  auto closing = std::make_unique<platform::MessageLoop::Window>();
  core::CUiHandler open(loop, window);
  core::CUiHandler closed(loop, *closing);
  CountingObserver page(&open);
  CountingObserver closedPage(&closed);
  Resolver().RegisterObserver(uris::Device(), false, &page);
  Resolver().RegisterObserver(uris::Device(), false, &closedPage);

  std::thread writer([&] { Resolver().Delete(uris::Device(), CSelection("uuid = 'd2'")); });
  writer.join();
  EXPECT_EQ(page.queries, 1);  // queried on the writer's thread...
  EXPECT_EQ(page.changes, 0);  // ...handled later on the loop's
  closing.reset();
  loop.RunPending();
  EXPECT_EQ(page.changes, 1);
  EXPECT_EQ(page.lastDeviceCount, 1);
  EXPECT_EQ(page.threads.at(0), std::this_thread::get_id());
  EXPECT_EQ(closedPage.changes, 0);
  Resolver().UnregisterObserver(uris::Device(), &page);
  Resolver().UnregisterObserver(uris::Device(), &closedPage);
}

}  // namespace
}  // namespace morvex::store
