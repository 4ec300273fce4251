#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace morvex::ctl {

// Runs one morvexctl command line (argv[0] included) and returns the exit
// status: 0 success, 1 the service or peer answered an error, 2 usage, 3 no
// answer from the local service within 5 s.
int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace morvex::ctl
