#pragma once

#include <string>
#include <string_view>

namespace morvex::ctl {

// `text` as it may be written to a terminal: control characters (C0, DEL,
// C1), the bidirectional overrides and bytes that are not UTF-8 appear as
// escapes (\r, \x1b, \u009b); a backslash is doubled so that escapes stay
// unambiguous. Every string another device can choose (device names, its
// paths, tree names) goes through it in text output.
std::string TerminalText(std::string_view text);

}  // namespace morvex::ctl
