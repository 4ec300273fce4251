#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace morvex::platform {

// The main thread's message loop: runs posted tasks in the order they were
// posted until Quit(). It stands in for the window message queue: a task can
// be posted to the loop itself or to a Window, and a task posted to a Window
// that has been destroyed before the task's turn is dropped, not run.
//
// Thread safety: Post, PostTo and Quit may be called from any thread. Run,
// RunPending and DiscardPending belong to the loop's thread, and Windows
// must be created and destroyed on that thread, which makes the liveness
// check race-free.
class MessageLoop {
 public:
  using Task = std::function<void()>;

  // A receiver of posted work whose lifetime the loop respects.
  class Window {
   public:
    Window() : alive_(std::make_shared<char>(0)) {}
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() = default;

   private:
    friend class MessageLoop;
    std::shared_ptr<char> alive_;
  };

  MessageLoop() = default;
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // Both return false, dropping the task, for an empty task or once the loop
  // has been told to quit.
  bool Post(Task task);
  bool PostTo(const Window& window, Task task);

  // Runs tasks until Quit(). Returns at once when Quit() came first.
  void Run();
  // Runs the tasks posted so far, waiting up to `wait` for the first one.
  // Returns how many ran. Used by tests and by shutdown.
  size_t RunPending(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
  void Quit();
  bool QuitRequested() const;
  // Destroys every queued task without running it (shutdown: the tasks may
  // hold database cursors that must go before the store closes).
  void DiscardPending();

  // Another event loop drives this one (the desktop's): `hook` is called,
  // on the posting thread and outside the lock, after every post that was
  // queued and after Quit(); it must be thread-safe and only wake the other
  // loop, which then calls RunPending() or sees QuitRequested(). Set once,
  // on the loop's thread, before any other thread posts.
  void SetWakeHook(std::function<void()> hook) { wakeHook_ = std::move(hook); }

 private:
  struct Entry {
    Task task;
    std::weak_ptr<char> window;  // expired: the window is gone
    bool toWindow = false;
  };
  bool Enqueue(Entry entry);
  static void RunEntry(Entry& entry);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Entry> queue_;  // guarded by mutex_; unbounded like a window queue
  bool quit_ = false;        // guarded by mutex_
  std::function<void()> wakeHook_;  // set before other threads exist
};

}  // namespace morvex::platform
