#include "core/StringPrintf.h"

#include <cstdio>
#include <vector>

namespace morvex::core {

std::string StringPrintf(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = StringPrintfV(format, arguments);
  va_end(arguments);
  return text;
}

std::string StringPrintfV(const char* format, va_list arguments) {
  if (format == nullptr) return {};
  va_list copy;
  va_copy(copy, arguments);
  char small[256];
  const int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return {};
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, static_cast<size_t>(needed));
  std::vector<char> large(static_cast<size_t>(needed) + 1);
  std::vsnprintf(large.data(), large.size(), format, arguments);
  return std::string(large.data(), static_cast<size_t>(needed));
}

}  // namespace morvex::core
