#pragma once

#include <string>
#include <string_view>

namespace morvex::platform {

// The one place that turns an errno value into text with context, so that
// every log line about a failed system call reads the same way:
// "<what>: <path>: <strerror>".
std::string ErrnoMessage(std::string_view what, std::string_view path, int err);

}  // namespace morvex::platform
