// The desktop's pictures, by the resource numbers the windows ask for.
#pragma once

#include <QIcon>

namespace morvex::desktop {

// Resource numbers of the pictures (src/desktop/icons/<number>.svg, drawn by
// tools/draw_icons.py and compiled in as the Qt resource ":/icons").
enum IconResource : int {
  kIconApp = 130,          // the application; the tray when idle
  kIconBusyFirst = 131,    // 131 to 134: the tray's busy animation
  kIconBusyLast = 134,
  kIconAndroid = 137,      // device kinds, online; the next number is offline
  kIconIPhone = 139,
  kIconLinux = 141,
  kIconMac = 143,
  kIconWindows = 145,
  kIconWindowsOffline = 146,  // also any kind the desktop does not know
  kIconUnknownDevice = 147,
  kIconWizardHeader = 151,
  kIconTrustedOnline = 160,   // the trust column's mark
  kIconTrustedOffline = 162,
  kIconStatusBusy = 185,
  kIconStatusIdle = 187,
  kIconStatusWarning = 189,
};

// The picture of `resource`; a null icon for a number without one.
QIcon Icon(int resource);

// The resource path of `resource` (":/icons/130.svg").
QString IconPath(int resource);

}  // namespace morvex::desktop
