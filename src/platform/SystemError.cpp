#include "platform/SystemError.h"

#include <cstring>

namespace morvex::platform {

std::string ErrnoMessage(std::string_view what, std::string_view path, int err) {
  std::string message(what);
  if (!path.empty()) {
    message += ": ";
    message += path;
  }
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(err, buffer, sizeof buffer);
  message += ": ";
  message += text;
  return message;
}

}  // namespace morvex::platform
