#pragma once

#include <cstdint>
#include <string>

namespace morvex::core {

// A number as the command-line options of the service and of its client
// read it: leading blanks, an optional sign, the decimal digits up to the
// first other character; 0 when there are none.
int64_t ParseOptionNumber(const std::string& text);

}  // namespace morvex::core
