// A request that waits for another device, run off the window's thread.
#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>
#include <QWidget>
#include <future>
#include <memory>
#include <utility>

namespace morvex::desktop {

// Runs `work` on a thread of the global pool and returns its result. The
// window's loop keeps running meanwhile (it repaints, the device list keeps
// following the table), with `window` disabled and the wait cursor on, so
// that the user sees it is busy and cannot start a second request. `work`
// must not touch widgets.
template <typename Work>
auto WaitBusy(QWidget* window, Work work) -> decltype(work()) {
  using Result = decltype(work());
  QEventLoop loop;
  // The task posts the end of the wait before its result is ready, so that
  // waiting for the result below means the loop is no longer touched.
  auto task = std::make_shared<std::packaged_task<Result()>>([&loop, work = std::move(work)]() mutable {
    Result result = work();
    // Queued: it is delivered once the loop runs, however soon this ends.
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    return result;
  });
  std::future<Result> result = task->get_future();
  QPointer<QWidget> guarded(window);
  if (window) window->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QThreadPool::globalInstance()->start([task] { (*task)(); });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  QApplication::restoreOverrideCursor();
  if (guarded) guarded->setEnabled(true);
  // The loop also ends when the application quits: the work (bounded by
  // its request's time-out) is still waited for.
  return result.get();
}

}  // namespace morvex::desktop
