#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "Morvex.pb.h"

// The discovery datagram as it arrives on the UDP port from anyone on the
// network: the AES-128-CBC cipher text of a MsgDiscover under the key of
// the sync password, with no head and no signature.
namespace morvex::peer {

// Why a datagram could not be decoded.
enum class DatagramFault { kDecrypt, kFormat };

// Decrypts and parses one datagram received from `sourceAddress` (dotted
// IPv4); nothing when it does not decrypt or does not parse, with `fault`
// saying which. Pure: touches neither sockets, the database nor the log (the
// caller throttles what strangers can make it say).
std::optional<qo::MsgDiscoverWin> DecodeDatagram(const std::string& tokenKey, const void* data, size_t size,
                                                 const std::string& sourceAddress, DatagramFault& fault);

// Whether a decoded datagram holds values that could make a usable device
// row (a valid UUID, ports in 1..65535, a public key that parses); `why`
// says what is wrong when it does not.
bool PlausibleDatagram(const qo::MsgDiscoverWin& datagram, std::string& why);

}  // namespace morvex::peer
