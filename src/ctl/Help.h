#pragma once

#include <optional>
#include <string>
#include <string_view>

// The help texts of morvexctl, in the user's language through the message
// catalog: the full usage (`--help`) and one command's (`help COMMAND`).
namespace morvex::ctl {

std::string FullUsage();
// Every form of `command` with what it does; nothing for an unknown one.
std::optional<std::string> CommandUsage(const std::string& command);

// `text` (UTF-8) in lines of at most `width` terminal columns, each after
// `indent`. Lines break at spaces and, since Chinese has none, between two
// wide characters; a wide character takes two columns. A word longer than
// the line stays whole.
std::string WrapText(std::string_view text, std::string_view indent, size_t width = 79);

}  // namespace morvex::ctl
