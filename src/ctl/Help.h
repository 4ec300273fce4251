#pragma once

#include <optional>
#include <string>

// The help texts of morvexctl, in one place with ErrorSentences so that a
// message catalog can take them over: the full usage (`--help`) and one
// command's (`help COMMAND`).
namespace morvex::ctl {

std::string FullUsage();
// Every form of `command` with what it does; nothing for an unknown one.
std::optional<std::string> CommandUsage(const std::string& command);

}  // namespace morvex::ctl
