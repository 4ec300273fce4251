#pragma once

#include <string>

namespace morvex::protocol {

// True for the 36-character lower-case form of a version 1-5 UUID with the
// RFC 4122 variant; the check every UUID from a peer must pass.
bool IsValidUuid(const std::string& text);

// A new random version-4 UUID in that form.
std::string NewUuid();

// The host name cut to 15 bytes (the default device name); "Linux" when it
// cannot be read.
std::string ComputerName();

}  // namespace morvex::protocol
