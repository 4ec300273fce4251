#include "core/OptionNumber.h"

#include <charconv>

namespace morvex::core {

std::optional<int64_t> OptionNumber(std::string_view word, int64_t least, int64_t most) {
  if (word.empty() || word.front() < '0' || word.front() > '9') return std::nullopt;  // no sign, no blank
  int64_t value = 0;
  const auto [end, problem] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (problem != std::errc() || end != word.data() + word.size()) return std::nullopt;
  if (value < least || value > most) return std::nullopt;
  return value;
}

}  // namespace morvex::core
