#include "platform/MessageLoop.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace morvex::platform {
namespace {

TEST(MessageLoop, RunsPostedTasksInOrderUntilQuit) {
  MessageLoop loop;
  std::vector<int> ran;
  for (int i = 0; i < 3; ++i) loop.Post([&ran, i] { ran.push_back(i); });
  loop.Post([&loop] { loop.Quit(); });
  loop.Post([&ran] { ran.push_back(99); });  // after Quit: never runs
  loop.Run();
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(loop.Post([] {}));
}

TEST(MessageLoop, WorkForADestroyedWindowIsDropped) {
  MessageLoop loop;
  bool ranForLiving = false;
  bool ranForDead = false;
  MessageLoop::Window living;
  auto dead = std::make_unique<MessageLoop::Window>();
  loop.PostTo(living, [&] { ranForLiving = true; });
  loop.PostTo(*dead, [&] { ranForDead = true; });
  dead.reset();
  EXPECT_EQ(loop.RunPending(), 2u);
  EXPECT_TRUE(ranForLiving);
  EXPECT_FALSE(ranForDead);
}

TEST(MessageLoop, QuitFromAnotherThreadEndsRun) {
  MessageLoop loop;
  std::thread quitter([&] {
    loop.Post([] {});
    loop.Quit();
  });
  loop.Run();
  quitter.join();
  EXPECT_TRUE(loop.QuitRequested());
}

}  // namespace
}  // namespace morvex::platform
