#include "desktop/DeviceIcons.h"

#include <array>

#include "Morvex.pb.h"
#include "desktop/Icons.h"

namespace morvex::desktop {
namespace {

// In list order: the ten untrusted kinds (online, offline in pairs), the
// ten trusted ones, then the unknown kind, the two trust marks and the
// three status pictures.
constexpr std::array<int, 26> kDeviceListIcons = {137, 138, 139, 140, 141, 142, 143, 144, 145, 146, 168, 169, 170,
                                                  171, 172, 173, 174, 175, 176, 177, 147, 160, 162, 185, 187, 189};
constexpr int kUnknownKindIndex = 5;

}  // namespace

int DeviceIconIndex(bool trusted, bool online, int type) {
  int kind = 0;
  switch (type) {
    case qo::DEVICE_WINDOWS: kind = 8; break;
    case qo::DEVICE_LINUX: kind = 4; break;
    case qo::DEVICE_MACOS: kind = 6; break;
    case qo::DEVICE_ANDROID:
    case qo::DEVICE_IPHONE:
    case qo::DEVICE_IPAD: kind = 0; break;
    default: return kUnknownKindIndex;
  }
  return (trusted ? 10 : 0) + (online ? 0 : 1) + kind;
}

int DeviceListIcon(int index) {
  if (index < 0 || index >= static_cast<int>(kDeviceListIcons.size())) return 0;
  return kDeviceListIcons[static_cast<size_t>(index)];
}

int DeviceKindIcon(int type) {
  switch (type) {
    case qo::DEVICE_WINDOWS: return kIconWindows;
    case qo::DEVICE_LINUX: return kIconLinux;
    case qo::DEVICE_MACOS: return kIconMac;
    case qo::DEVICE_ANDROID: return kIconAndroid;
    case qo::DEVICE_IPHONE:
    case qo::DEVICE_IPAD: return kIconIPhone;
    default: return kIconWindowsOffline;
  }
}

int TrustMarkIcon(bool online) { return online ? kIconTrustedOnline : kIconTrustedOffline; }

}  // namespace morvex::desktop
