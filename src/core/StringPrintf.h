#pragma once

#include <cstdarg>
#include <string>

namespace morvex::core {

// printf-style formatting into a std::string (where clauses, log texts).
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StringPrintfV(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));

}  // namespace morvex::core
