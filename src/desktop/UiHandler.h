// Posting work from any thread to a window of the desktop.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "core/Handler.h"

namespace morvex::desktop {

// The desktop's handler for a window: Post hands the runnable to the Qt
// event loop of the window's thread as a queued call; when its turn comes
// and the window has been destroyed meanwhile, the runnable is dropped
// unrun (a broadcast or a change notice for a closed dialog finds no one).
// Made on the window's thread; Post may be called from any thread.
class CUiHandler final : public core::CHandler {
 public:
  // `loop` is the service's loop (the base class keeps it); `window` is
  // watched, not owned.
  CUiHandler(platform::MessageLoop& loop, QWidget* window);
  bool Post(std::unique_ptr<core::IRunnable> runnable) override;

 private:
  QPointer<QWidget> window_;
};

}  // namespace morvex::desktop
