#include "platform/BroadcastAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <memory>

namespace morvex::platform {

std::optional<std::vector<std::string>> InterfaceBroadcastAddresses() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);
  std::vector<std::string> addresses;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const unsigned flags = entry->ifa_flags;
    if ((flags & IFF_UP) == 0 || (flags & IFF_LOOPBACK) != 0 || (flags & IFF_BROADCAST) == 0) continue;
    if (entry->ifa_broadaddr == nullptr) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* broadcast = reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr);
    if (::inet_ntop(AF_INET, &broadcast->sin_addr, text, sizeof text) != nullptr) addresses.emplace_back(text);
  }
  return addresses;
}

}  // namespace morvex::platform
