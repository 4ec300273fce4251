#include "platform/TimerService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace morvex::platform {
namespace {

using namespace std::chrono_literals;

TEST(TimerService, PeriodicTimerRepeatsUntilDestroyed) {
  TimerService timers;
  std::atomic<int> ticks{0};
  auto timer = timers.Start(0ms, 10ms, [&] { ++ticks; });
  const auto end = std::chrono::steady_clock::now() + 2s;
  while (ticks < 3 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  timer.reset();
  const int atStop = ticks;
  EXPECT_GE(atStop, 3);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(ticks, atStop);
}

TEST(TimerService, DestroyingATimerWaitsForItsRunningCallback) {
  TimerService timers;
  std::atomic<bool> entered{false};
  std::atomic<bool> finished{false};
  auto timer = timers.Start(0ms, 0ms, [&] {
    entered = true;
    std::this_thread::sleep_for(200ms);
    finished = true;
  });
  while (!entered) std::this_thread::sleep_for(1ms);
  timer.reset();
  EXPECT_TRUE(finished);
}

TEST(TimerService, ACallbackMayCancelItsOwnTimer) {
  TimerService timers;
  std::unique_ptr<TimerService::Timer> timer;
  std::atomic<int> ticks{0};
  std::atomic<bool> cancelled{false};
  std::mutex guard;
  {
    std::lock_guard lock(guard);
    timer = timers.Start(0ms, 5ms, [&] {
      ++ticks;
      std::lock_guard inner(guard);
      timer.reset();
      cancelled = true;
    });
  }
  const auto end = std::chrono::steady_clock::now() + 2s;
  while (!cancelled && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  std::this_thread::sleep_for(30ms);
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(ticks, 1);
}

}  // namespace
}  // namespace morvex::platform
