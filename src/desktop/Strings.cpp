#include "desktop/Strings.h"

#include <cstdarg>

#include "core/StringPrintf.h"

namespace morvex::desktop {

const char* Text(int id) {
  for (const StringEntry& entry : kStringTable) {
    if (entry.id == id) return core::Tr(entry.text.one);
  }
  return nullptr;
}

const char* TextN(int id, unsigned long count) {
  for (const StringEntry& entry : kStringTable) {
    if (entry.id != id) continue;
    return entry.text.many ? core::TrN(entry.text.one, entry.text.many, count) : core::Tr(entry.text.one);
  }
  return nullptr;
}

std::string Printf(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string result = core::StringPrintfV(format, arguments);
  va_end(arguments);
  return result;
}

}  // namespace morvex::desktop
