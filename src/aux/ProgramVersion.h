#pragma once

#include <string>

namespace morvex::aux {

// The running program's version as four dotted numbers ("0.1.0.0"), set
// by the build; the update check compares it with the offered one.
const char* ProgramVersion();

}  // namespace morvex::aux
