#include "platform/MessageLoop.h"

#include <utility>

namespace morvex::platform {

bool MessageLoop::Post(Task task) { return Enqueue(Entry{std::move(task), {}, false}); }

bool MessageLoop::PostTo(const Window& window, Task task) {
  return Enqueue(Entry{std::move(task), window.alive_, true});
}

bool MessageLoop::Enqueue(Entry entry) {
  if (!entry.task) return false;
  {
    std::lock_guard lock(mutex_);
    if (quit_) return false;
    queue_.push_back(std::move(entry));
  }
  wake_.notify_one();
  if (wakeHook_) wakeHook_();
  return true;
}

void MessageLoop::RunEntry(Entry& entry) {
  if (entry.toWindow && entry.window.expired()) return;
  entry.task();
}

void MessageLoop::Run() {
  for (;;) {
    Entry entry;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
      if (quit_) return;
      entry = std::move(queue_.front());
      queue_.pop_front();
    }
    RunEntry(entry);
  }
}

size_t MessageLoop::RunPending(std::chrono::milliseconds wait) {
  std::deque<Entry> batch;
  {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, wait, [this] { return quit_ || !queue_.empty(); });
    batch.swap(queue_);
  }
  for (auto& entry : batch) RunEntry(entry);
  return batch.size();
}

void MessageLoop::Quit() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (wakeHook_) wakeHook_();
}

bool MessageLoop::QuitRequested() const {
  std::lock_guard lock(mutex_);
  return quit_;
}

void MessageLoop::DiscardPending() {
  std::deque<Entry> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(queue_);
  }
  // Destroyed here, outside the lock: a task's captures may post again.
}

}  // namespace morvex::platform
