#include "core/BroadcastService.h"
#include "core/AppError.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace morvex::core {
namespace {

class RecordingReceiver : public CBroadcastReceiver {
 public:
  using CBroadcastReceiver::CBroadcastReceiver;
  bool OnReceive(int code, const std::any& parameter) override {
    codes.push_back(code);
    threads.push_back(std::this_thread::get_id());
    if (const auto* event = std::any_cast<FileEvent>(&parameter)) lastCount = event->count;
    return true;
  }
  std::vector<int> codes;
  std::vector<std::thread::id> threads;
  int lastCount = -1;
};

TEST(BroadcastService, DirectReceiversRunAtOnceAndTwiceRegisteredRunTwice) {
  CBroadcastService service;
  RecordingReceiver receiver;
  service.Register(BM_FILES_DONE, &receiver);
  service.Register(BM_FILES_DONE, &receiver);
  service.Broadcast(BM_FILES_DONE, FileEvent{1, 2, 7});
  EXPECT_EQ(receiver.codes.size(), 2u);
  EXPECT_EQ(receiver.lastCount, 7);

  service.Unregister(BM_FILES_DONE, &receiver);
  service.Broadcast(BM_FILES_DONE);  // no receiver left: dropped
  EXPECT_EQ(receiver.codes.size(), 2u);
}

TEST(BroadcastService, ReceiversWithAHandlerRunOnTheLoopThreadOnlyWhileTheirWindowLives) {
  platform::MessageLoop loop;
  CBroadcastService service;
  platform::MessageLoop::Window window;
  auto closing = std::make_unique<platform::MessageLoop::Window>();
  RecordingReceiver shown(std::make_unique<CUiHandler>(loop, window));
  RecordingReceiver closed(std::make_unique<CUiHandler>(loop, *closing));
  service.Register(BM_SYNC_BEGIN, &shown);
  service.Register(BM_SYNC_BEGIN, &closed);

  std::thread worker([&] { service.Broadcast(BM_SYNC_BEGIN); });
  worker.join();
  EXPECT_TRUE(shown.codes.empty());  // posted, not yet run
  closing.reset();
  loop.RunPending();
  ASSERT_EQ(shown.codes.size(), 1u);
  EXPECT_EQ(shown.threads[0], std::this_thread::get_id());
  EXPECT_TRUE(closed.codes.empty());
}

TEST(BroadcastService, RunnableWithoutReceiverReportsNoTarget) {
  COnChangeRunable runnable(nullptr, BM_SYNC_END, {});
  EXPECT_EQ(runnable.Run(), kErrorNoTarget);
}

}  // namespace
}  // namespace morvex::core
