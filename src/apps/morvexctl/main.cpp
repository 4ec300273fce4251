// morvexctl: drives the local Morvex service from the command line.
#include <glog/logging.h>

#include <iostream>
#include <string>
#include <vector>

#include "core/Text.h"
#include "ctl/Commands.h"

int main(int argc, char** argv) {
  morvex::core::InitTexts(argv[0]);
  // The client's messages go to standard error itself; the libraries' log
  // lines would only repeat them.
  FLAGS_logtostderr = false;
  FLAGS_stderrthreshold = google::GLOG_FATAL;
  FLAGS_minloglevel = google::GLOG_FATAL;
  google::InitGoogleLogging(argv[0]);
  return morvex::ctl::RunCommandLine(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
}
