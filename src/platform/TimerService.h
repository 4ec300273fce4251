#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace morvex::platform {

// Periodic callbacks on a thread of their own (the service's discovery tick,
// sync timer, indexer retry tick and watch flush). One thread runs every
// timer of a service, in due order; a callback should only post work
// elsewhere and return.
//
// How many: each component with a tick (RespRouter, SyncRouter,
// SyncDirManager, IndexThread) owns one service, so four timer threads run.
// A service dies with its owner, after the owner's timers, so no callback
// can outlive what it posts to and no shutdown order between components is
// needed for the timers.
//
// Thread safety: Start and Timer destruction may happen on any thread.
// Destroying a Timer cancels it and waits for a callback of it that is
// running at that moment, unless the destruction happens inside that very
// callback. The service must outlive its timers.
class TimerService {
 public:
  using Clock = std::chrono::steady_clock;
  using Callback = std::function<void()>;

  class Timer {
   public:
    // Made by TimerService::Start only.
    Timer(TimerService& service, uint64_t id) : service_(service), id_(id) {}
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer();

   private:
    TimerService& service_;
    uint64_t id_;
  };

  TimerService();
  TimerService(const TimerService&) = delete;
  TimerService& operator=(const TimerService&) = delete;
  ~TimerService();

  // First call after `due`, then every `period` (no repetition when zero).
  std::unique_ptr<Timer> Start(std::chrono::milliseconds due, std::chrono::milliseconds period,
                               Callback callback);

 private:
  struct Entry {
    uint64_t id;
    std::chrono::milliseconds period;
    std::shared_ptr<Callback> callback;
  };
  void Cancel(uint64_t id);
  void Loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::multimap<Clock::time_point, Entry> due_;  // guarded by mutex_
  uint64_t nextId_ = 1;                          // guarded by mutex_
  uint64_t running_ = 0;                         // id of the callback running now; guarded by mutex_
  bool stop_ = false;                            // guarded by mutex_
  std::thread thread_;
};

}  // namespace morvex::platform
