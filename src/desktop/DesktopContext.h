// What the desktop's windows need of the running service.
#pragma once

#include <functional>

#include "config/KelmConfig.h"
#include "platform/MessageLoop.h"
#include "protocol/KeyStore.h"

namespace morvex::desktop {

// Everything here outlives the desktop's windows: the service makes them
// before the main window and stops them after it.
struct DesktopContext {
  // The service's loop: Quit() leaves the desktop (the tray's "Exit").
  platform::MessageLoop& loop;
  // This device's configuration (its UUID, name and ports).
  const config::CKelmConfigManager& config;
  // Keys for the protected requests to peers (the trust handshake).
  protocol::IKeyManager& keys;
  // Starts a new process of the service (the update); the caller then quits.
  std::function<bool()> restart;
};

}  // namespace morvex::desktop
