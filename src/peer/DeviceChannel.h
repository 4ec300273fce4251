#pragma once

#include <string>

#include "device/Device.h"
#include "peer/PeerContext.h"
#include "protocol/PeerChannel.h"

namespace morvex::peer {

// Whose key a channel encrypts for: a trusted device's only, or any known
// device's (the trust handshake talks to devices not trusted yet).
enum class PeerKey { kTrusted, kAnyKnown };

// A conversation with device `deviceUuid` as this device, its route looked
// up in the Device table and its public key in the key store, once. A
// device without a route gives a channel whose HasRoute() is false and
// whose Asks are Unavailable without sending.
protocol::PeerChannel OpenDeviceChannel(PeerContext& peer, const std::string& deviceUuid, PeerKey key);

// The same for a device row already read: its route is taken from the row.
protocol::PeerChannel OpenDeviceChannel(PeerContext& peer, const device::CDevice& device, PeerKey key);

}  // namespace morvex::peer
