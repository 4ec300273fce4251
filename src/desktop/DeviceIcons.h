// Which picture stands for a device: its kind, whether it is online and
// whether this device trusts it.
#pragma once

namespace morvex::desktop {

// The device list's picture list has 26 entries (index 0 to 25); the
// index of a device's picture in it. A kind this desktop does not know
// shows index 5 whatever its state.
int DeviceIconIndex(bool trusted, bool online, int type);

// The picture resource (Icons.h) at `index` of the device list's picture
// list; 0 for an index outside it.
int DeviceListIcon(int index);

// The picture of a device's kind (online, untrusted), as the trust
// dialogs show it.
int DeviceKindIcon(int type);

// The mark a trusted device gets in the "Trusted" column.
int TrustMarkIcon(bool online);

}  // namespace morvex::desktop
