#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morvex::platform {

// The directed-broadcast address (dotted IPv4) of every interface that is
// up, is not loopback and has one. Nothing when the list cannot be made.
std::optional<std::vector<std::string>> InterfaceBroadcastAddresses();

}  // namespace morvex::platform
