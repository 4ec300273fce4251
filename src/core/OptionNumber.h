#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace morvex::core {

// A number as the command-line options of the service and of its client
// take it: the whole word in decimal digits, within [least, most]. Anything
// else (a sign, blanks, a stray character, overflow) is nothing, so that a
// mistake is named instead of read up to its first odd character.
std::optional<int64_t> OptionNumber(std::string_view word, int64_t least, int64_t most);

}  // namespace morvex::core
