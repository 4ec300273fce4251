#pragma once

#include <string>
#include <vector>

namespace morvex::platform {

// Starts a new process of the running executable with the given arguments
// (argv[0] included) plus "--restart", in the caller's environment and
// working directory. Returns true when the process was created. The new
// process waits for the single-instance lock that the caller still holds.
bool RestartProcess(const std::vector<std::string>& arguments);

}  // namespace morvex::platform
