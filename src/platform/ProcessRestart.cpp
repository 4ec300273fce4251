#include "platform/ProcessRestart.h"

#include <spawn.h>
#include <sys/types.h>

extern char** environ;

namespace morvex::platform {

bool RestartProcess(const std::vector<std::string>& arguments) {
  std::vector<std::string> words = arguments;
  if (words.empty()) words.emplace_back("morvex");
  words.emplace_back("--restart");
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  return ::posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) == 0;
}

}  // namespace morvex::platform
