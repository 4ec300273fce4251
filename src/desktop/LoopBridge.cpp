#include "desktop/LoopBridge.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace morvex::desktop {

LoopBridge::LoopBridge(platform::MessageLoop& loop) : loop_(loop) {
  // The hook runs on whichever thread posted: it only queues a call here.
  loop_.SetWakeHook([this] { QMetaObject::invokeMethod(this, &LoopBridge::Drain, Qt::QueuedConnection); });
  // Work or a quit that came before the bridge existed.
  QMetaObject::invokeMethod(this, &LoopBridge::Drain, Qt::QueuedConnection);
}

LoopBridge::~LoopBridge() {
  // Every worker has stopped (see the header): nothing reads the hook now.
  loop_.SetWakeHook(nullptr);
}

void LoopBridge::Drain() {
  if (loop_.QuitRequested()) {
    QCoreApplication::quit();
    return;
  }
  loop_.RunPending();
}

}  // namespace morvex::desktop
