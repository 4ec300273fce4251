#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace morvex::ctl {

// Runs one morvexctl command line (argv[0] included) and returns the exit
// status (ExitStatus in CtlClient.h): 0 success, 1 refused, 2 usage, 3 no
// answer from the local service, 4 timeout, 5 no answer from the peer.
// Failures are one line each on `err`; with --json also one error object
// on `out`.
int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace morvex::ctl
