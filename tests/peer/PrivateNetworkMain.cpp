// Test main for the peer services: as root, the whole test process moves
// into a network namespace of its own with only loopback up, so that the
// router's ports and broadcasts never touch the machine's networks.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>

#include "peer/PrivateNetwork.h"

namespace morvex::test {
namespace {
bool isolated = false;
}
bool InPrivateNetwork() { return isolated; }
}  // namespace morvex::test

int main(int argc, char** argv) {
  if (::geteuid() == 0 && ::unshare(CLONE_NEWNET) == 0) {
    morvex::test::isolated = std::system("ip link set lo up") == 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
