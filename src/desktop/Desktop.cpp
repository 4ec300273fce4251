#include "desktop/Desktop.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <cstdlib>

#include "desktop/MainWindow.h"

namespace morvex::desktop {

bool DisplayReachable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return false;
  // Qt ends the process when its display cannot be opened; asking first
  // lets the service run headless instead.
  xcb_connection_t* connection = xcb_connect(display, nullptr);
  const bool reachable = connection && xcb_connection_has_error(connection) == 0;
  if (connection) xcb_disconnect(connection);
  return reachable;
}

void RunDesktop(const DesktopContext& context) {
  QApplication::setQuitOnLastWindowClosed(false);
  MainWindow window(context);
  window.Start();
  QApplication::exec();
}

}  // namespace morvex::desktop
