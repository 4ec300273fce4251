#pragma once

#include <string>

namespace morvex::platform {

// Names the calling thread for debuggers, top and /proc. Linux keeps at most
// 15 bytes of a thread name; longer names are cut there.
void SetCurrentThreadName(const std::string& name);

}  // namespace morvex::platform
