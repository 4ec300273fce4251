#include "support/TestNetns.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace morvex::test {

int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool TestNetns::Available() {
  return ::geteuid() == 0 && RunCommand("command -v ip >/dev/null 2>&1") == 0;
}

TestNetns::TestNetns() {
  static std::atomic<int> counter{0};
  name_ = "mvxt-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  ok_ = RunCommand("ip netns add " + name_ + " 2>/dev/null") == 0 &&
        RunCommand("ip -n " + name_ + " link set lo up 2>/dev/null") == 0;
}

TestNetns::~TestNetns() { RunCommand("ip netns delete " + name_ + " 2>/dev/null"); }

}  // namespace morvex::test
