// What the desktop's windows need of the running service.
#pragma once

#include <functional>
#include <string>

#include "config/KelmConfig.h"
#include "platform/MessageLoop.h"
#include "protocol/KeyStore.h"
#include "protocol/ZmqSocket.h"

namespace morvex::desktop {

// Everything here outlives the desktop's windows: the service makes them
// before the main window and stops them after it.
struct DesktopContext {
  // The service's loop: Quit() leaves the desktop (the tray's "Exit").
  platform::MessageLoop& loop;
  // This device's configuration (its UUID, name and ports).
  const config::CKelmConfigManager& config;
  // Keys for the protected requests to peers and to the own service.
  protocol::IKeyManager& keys;
  // The service's ZeroMQ context: the in-process endpoints of its workers
  // ("inproc://syncer.inproc", ...) are reachable only through it.
  protocol::ZmqContext& zmq;
  // Starts a new process of the service (the update); the caller then quits.
  std::function<bool()> restart;
  // The profile folder (metadir/Morvex): the deployment file lies there.
  std::string appDir;
};

}  // namespace morvex::desktop
