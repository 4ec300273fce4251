#pragma once

#include <string>
#include <string_view>

namespace morvex::ctl {

// A JSON string literal for `text` (UTF-8 passed through, control
// characters escaped).
std::string JsonString(std::string_view text);
inline const char* JsonBool(bool value) { return value ? "true" : "false"; }

}  // namespace morvex::ctl
