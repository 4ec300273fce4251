#include "platform/Metadir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/SystemError.h"
#include "platform/UserFolders.h"

namespace morvex::platform {
namespace {

// mkdir -p with the given mode for the directories it creates.
bool MakeDirectories(const std::string& path, mode_t mode, std::string& error) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
      error = ErrnoMessage("Failed to init application directory", partial, errno);
      return false;
    }
  }
  return true;
}

// Whoever may write to the profile can replace the device's identity and
// trust: it must be the running user's alone.
std::string OwnershipProblem(const struct stat& info) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  if (info.st_uid != geteuid()) {
    return "it belongs to uid " + std::to_string(info.st_uid) + ", not to this user (uid " + std::to_string(geteuid()) +
           "); use a profile of your own (-m DIR)";
  }
  if ((info.st_mode & 022) != 0) {
    return std::string("group or others may write to it (mode ") + mode +
           "); check its content, then make it private (chmod go-w)";
  }
  return {};
}

}  // namespace

std::string DefaultMetadir() {
  const std::string config = ConfigHome();
  // Without any home folder the service still runs, from a scratch place.
  return config.empty() ? std::string("/tmp/.config") : config;
}

AppDirResult EnsureAppDir(const std::string& metadir) {
  AppDirResult result;
  if (metadir.empty()) {
    result.error = "Invalid Path: empty metadir";
    return result;
  }
  std::string base = metadir;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  result.path = base + "/" + kAppDirName;

  struct stat info {};
  if (::lstat(result.path.c_str(), &info) == 0) {
    if (S_ISREG(info.st_mode) && info.st_size == 0) {
      if (::unlink(result.path.c_str()) != 0) {
        result.error = ErrnoMessage("Failed to remove the empty file in the way", result.path, errno);
        return result;
      }
    } else if (!S_ISDIR(info.st_mode)) {
      result.error = "Failed to init application directory: " + result.path +
                     ": something other than a directory is in the way; move it aside";
      return result;
    }
  }
  if (!MakeDirectories(base, 0700, result.error)) return result;
  if (::mkdir(result.path.c_str(), 0700) != 0 && errno != EEXIST) {
    result.error = ErrnoMessage("Failed to init application directory", result.path, errno);
    return result;
  }
  if (::lstat(result.path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    result.error = "Failed to init application directory: " + result.path + ": not a directory";
    return result;
  }
  if (const std::string problem = OwnershipProblem(info); !problem.empty()) {
    result.error = "Refusing the profile folder " + result.path + ": " + problem;
    return result;
  }
  // The folder will hold the device's private key: keep it to its owner.
  if ((info.st_mode & 077) != 0) ::chmod(result.path.c_str(), 0700);
  result.ok = true;
  return result;
}

std::string PrivateFileProblem(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT ? std::string() : ErrnoMessage("Cannot check", path, errno);
  if (!S_ISREG(info.st_mode)) return "Refusing " + path + ": not a regular file";
  if (const std::string problem = OwnershipProblem(info); !problem.empty()) return "Refusing " + path + ": " + problem;
  return {};
}

std::string CurrentUserName() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_name != nullptr && found->pw_name[0] != '\0') {
    return found->pw_name;
  }
  return std::to_string(geteuid());
}

}  // namespace morvex::platform
