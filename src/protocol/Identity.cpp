#include "protocol/Identity.h"

#include <unistd.h>

#include <regex>

#include "protocol/SslUtils.h"

namespace morvex::protocol {

bool IsValidUuid(const std::string& text) {
  static const std::regex kPattern("^[0-9a-f]{8}-[0-9a-f]{4}-[1-5][0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
  return text.size() == 36 && std::regex_match(text, kPattern);
}

std::string NewUuid() {
  std::string bytes = ssl::RandomBytes(16);
  if (bytes.size() != 16) return {};
  bytes[6] = static_cast<char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static const char* kDigits = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    const auto byte = static_cast<unsigned char>(bytes[i]);
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::string ComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "Linux";
  return std::string(name).substr(0, 15);
}

}  // namespace morvex::protocol
