#include "core/OptionNumber.h"

#include <cctype>

namespace morvex::core {

int64_t ParseOptionNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

}  // namespace morvex::core
