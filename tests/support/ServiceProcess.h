#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace morvex::test {

// One real `morvex` process started inside a test network namespace, its
// standard error kept in a file. Ended by its PID when the object goes.
class ServiceProcess {
 public:
  ServiceProcess(const std::string& netns, const std::vector<std::string>& arguments, const std::string& stderrPath);
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;
  ~ServiceProcess();

  pid_t Pid() const { return pid_; }
  bool Signal(int signal) const;
  // The exit status once the process has ended within `limit`, else nothing.
  std::optional<int> WaitExit(std::chrono::milliseconds limit);
  bool Running();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// The path of a program built into the build's bin folder.
std::string BinaryPath(const std::string& name);

// Polls `predicate` every 20 ms until it holds or `limit` passes.
template <typename Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (predicate()) return true;
    ::usleep(20000);
  }
  return predicate();
}

}  // namespace morvex::test
