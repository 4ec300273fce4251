#include "platform/TimerService.h"

#include "platform/ThreadName.h"

namespace morvex::platform {

TimerService::Timer::~Timer() { service_.Cancel(id_); }

TimerService::TimerService() {
  thread_ = std::thread([this] { Loop(); });
}

TimerService::~TimerService() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::unique_ptr<TimerService::Timer> TimerService::Start(std::chrono::milliseconds due,
                                                         std::chrono::milliseconds period,
                                                         Callback callback) {
  uint64_t id;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
    due_.emplace(Clock::now() + due, Entry{id, period, std::make_shared<Callback>(std::move(callback))});
  }
  changed_.notify_all();
  return std::make_unique<Timer>(*this, id);
}

void TimerService::Cancel(uint64_t id) {
  std::unique_lock lock(mutex_);
  for (auto it = due_.begin(); it != due_.end(); ++it) {
    if (it->second.id == id) {
      due_.erase(it);
      break;
    }
  }
  // A callback that cancels its own timer must not wait for itself.
  if (std::this_thread::get_id() == thread_.get_id()) return;
  changed_.wait(lock, [&] { return running_ != id; });
}

void TimerService::Loop() {
  SetCurrentThreadName("timers");
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (due_.empty()) {
      changed_.wait(lock);
      continue;
    }
    auto next = due_.begin();
    // A copy: the entry may be cancelled (and freed) while we wait.
    const Clock::time_point when = next->first;
    if (Clock::now() < when) {
      changed_.wait_until(lock, when);
      continue;
    }
    Entry entry = std::move(next->second);
    due_.erase(next);
    if (entry.period.count() > 0) {
      // Keep the rhythm of the schedule, but never queue up missed ticks.
      auto following = when + entry.period;
      auto now = Clock::now();
      if (following <= now) following = now + entry.period;
      due_.emplace(following, Entry{entry.id, entry.period, entry.callback});
    }
    running_ = entry.id;
    lock.unlock();
    (*entry.callback)();
    lock.lock();
    running_ = 0;
    changed_.notify_all();
  }
}

}  // namespace morvex::platform
