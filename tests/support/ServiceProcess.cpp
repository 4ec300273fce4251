#include "support/ServiceProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace morvex::test {

std::string BinaryPath(const std::string& name) { return std::string(MORVEX_BIN_DIR) + "/" + name; }

ServiceProcess::ServiceProcess(const std::string& netns, const std::vector<std::string>& arguments,
                               const std::string& stderrPath) {
  // `ip netns exec` enters the namespace and then execs the program, so the
  // PID we get is the service's own.
  std::vector<std::string> words = {"/usr/sbin/ip", "netns", "exec", netns};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

ServiceProcess::~ServiceProcess() {
  if (pid_ <= 0 || status_) return;
  ::kill(pid_, SIGTERM);
  if (!WaitExit(std::chrono::seconds(5))) {
    ::kill(pid_, SIGKILL);
    WaitExit(std::chrono::seconds(5));
  }
}

bool ServiceProcess::Signal(int signal) const { return pid_ > 0 && ::kill(pid_, signal) == 0; }

bool ServiceProcess::Running() {
  if (pid_ <= 0 || status_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return true;
}

std::optional<int> ServiceProcess::WaitExit(std::chrono::milliseconds limit) {
  WaitFor([this] { return !Running(); }, limit);
  return status_;
}

}  // namespace morvex::test
