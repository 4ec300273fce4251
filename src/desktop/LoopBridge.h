// The service's message loop, run inside Qt's event loop.
#pragma once

#include <QObject>

#include "platform/MessageLoop.h"

namespace morvex::desktop {

// While it exists, work posted to the service's loop (platform::MessageLoop)
// runs on the Qt event loop's thread, and the loop's Quit() (a signal, the
// tray's exit) ends QApplication::exec(). Made on the main thread before
// any worker thread starts; destroyed only once every worker has stopped
// (after the service's ExitInstance), as the hook it installs is read by
// posting threads.
class LoopBridge final : public QObject {
  Q_OBJECT

 public:
  explicit LoopBridge(platform::MessageLoop& loop);
  ~LoopBridge() override;

 private:
  // On the Qt thread: runs what is queued, or quits Qt's loop.
  void Drain();

  platform::MessageLoop& loop_;
};

}  // namespace morvex::desktop
