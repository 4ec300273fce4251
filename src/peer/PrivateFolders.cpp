#include "peer/PrivateFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

#include "index/Tree.h"
#include "platform/UserFolders.h"

namespace morvex::peer {
namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// `path` with every link and "." / ".." resolved; empty when it does not exist.
std::string Resolved(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

// Under the home folder, relative to it.
constexpr const char* kCredentialFolders[] = {
    ".ssh", ".gnupg", ".pki", ".password-store", ".local/share/keyrings", ".config/Morvex",
};

}  // namespace

PrivateFolders PrivateFolders::For(const std::string& appDir) {
  PrivateFolders folders;
  const std::string app = WithoutTrailingSlash(appDir);
  if (app.size() > 1 && app[0] == '/') {
    folders.Add(app);
    // The metadir itself, unless that would be the file-system root.
    if (const size_t slash = app.find_last_of('/'); slash > 0) folders.Add(app.substr(0, slash));
  }
  if (const std::string home = platform::HomeFolder(); home.size() > 1) {
    for (const char* name : kCredentialFolders) folders.Add(home + "/" + name);
  }
  return folders;
}

void PrivateFolders::Add(const std::string& folder) {
  folders_.push_back(folder);
  if (std::string real = Resolved(folder); !real.empty() && real != folder) folders_.push_back(std::move(real));
}

bool PrivateFolders::Covers(const std::string& path) const {
  const std::string written = WithoutTrailingSlash(path);
  const std::string real = Resolved(written);
  return std::any_of(folders_.begin(), folders_.end(), [&](const std::string& folder) {
    return index::PathWithin(written, folder) || (!real.empty() && index::PathWithin(real, folder));
  });
}

}  // namespace morvex::peer
