// morvexctl: drives the local Morvex service from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "ctl/Commands.h"

int main(int argc, char** argv) {
  return morvex::ctl::RunCommandLine(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
}
