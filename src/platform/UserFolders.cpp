#include "platform/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace morvex::platform {
namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return WithoutTrailingSlash(home);
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return WithoutTrailingSlash(found->pw_dir);
  }
  return {};
}

std::string ConfigHome() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') return config;
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.config";
}

std::map<std::string, std::string> ReadUserDirs(const std::string& home, const std::string& configHome) {
  std::map<std::string, std::string> folders;
  std::ifstream file(configHome + "/user-dirs.dirs");
  std::string line;
  while (std::getline(file, line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    const size_t equals = line.find('=', start);
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(start, equals - start);
    const size_t open = line.find('"', equals);
    const size_t close = line.rfind('"');
    if (open == std::string::npos || close <= open) continue;
    std::string value;
    for (size_t i = open + 1; i < close; ++i) {
      if (line[i] == '\\' && i + 1 < close) ++i;
      value += line[i];
    }
    if (value == "$HOME" || value.starts_with("$HOME/")) {
      value = home + value.substr(5);
    } else if (value.empty() || value[0] != '/') {
      continue;
    }
    folders[key] = WithoutTrailingSlash(value);
  }
  return folders;
}

}  // namespace morvex::platform
