#include "desktop/UiHandler.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace morvex::desktop {

CUiHandler::CUiHandler(platform::MessageLoop& loop, QWidget* window) : core::CHandler(loop), window_(window) {}

bool CUiHandler::Post(std::unique_ptr<core::IRunnable> runnable) {
  QCoreApplication* application = QCoreApplication::instance();
  if (!runnable || !application) return false;
  // Queued on the application object, which outlives every window, and not
  // on the window itself: the window may be gone before this call returns.
  // The guard is copied here and read on the window's thread.
  QPointer<QWidget> guard = window_;
  auto owned = std::shared_ptr<core::IRunnable>(std::move(runnable));
  return QMetaObject::invokeMethod(
      application,
      [guard, owned] {
        if (guard) owned->Run();
      },
      Qt::QueuedConnection);
}

}  // namespace morvex::desktop
