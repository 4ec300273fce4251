#pragma once

#include <string>

namespace morvex::test {

// A network namespace of the test's own, with only loopback up, so that a
// service started in it can never reach the machine's networks. Needs root;
// Available() says whether namespaces can be made here.
class TestNetns {
 public:
  static bool Available();

  TestNetns();
  TestNetns(const TestNetns&) = delete;
  TestNetns& operator=(const TestNetns&) = delete;
  ~TestNetns();

  const std::string& Name() const { return name_; }
  bool Ok() const { return ok_; }

 private:
  std::string name_;
  bool ok_ = false;
};

// Runs a shell command, returning its exit status.
int RunCommand(const std::string& command);

}  // namespace morvex::test
