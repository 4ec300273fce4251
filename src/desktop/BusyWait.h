// A request that waits for another device, run off the window's thread.
#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>
#include <QWidget>
#include <utility>

namespace morvex::desktop {

// Runs `work` on a thread of the global pool and returns its result. The
// window's loop keeps running meanwhile (it repaints, the device list keeps
// following the table), with `window` disabled and the wait cursor on, so
// that the user sees it is busy and cannot start a second request. `work`
// must not touch widgets.
template <typename Work>
auto WaitBusy(QWidget* window, Work work) -> decltype(work()) {
  decltype(work()) result{};
  QEventLoop loop;
  QPointer<QWidget> guarded(window);
  if (window) window->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QThreadPool::globalInstance()->start([&result, &loop, &work] {
    result = work();
    // Queued: it is delivered once the loop runs, however soon this ends.
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  QApplication::restoreOverrideCursor();
  if (guarded) guarded->setEnabled(true);
  return result;
}

}  // namespace morvex::desktop
