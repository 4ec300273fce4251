#pragma once

#include <string>

namespace morvex::platform {

// Where the service keeps its database, logs and lock: "<metadir>/Morvex".
// The metadir defaults to $XDG_CONFIG_HOME, or ~/.config when that is unset.
std::string DefaultMetadir();

// The name of the application folder inside the metadir.
inline constexpr const char* kAppDirName = "Morvex";

struct AppDirResult {
  bool ok = false;
  std::string path;   // "<metadir>/Morvex"
  std::string error;  // why it failed, for the log and standard error
};

// Makes sure "<metadir>/Morvex" exists as a directory private to the user
// (mode 0700), creating missing parents. A stale empty regular file of that
// name is removed first; anything else in the way (a non-empty file, a
// symbolic link, a device) is left alone and reported, so that no user data
// is ever deleted to make room for the folder. An existing folder that
// belongs to another user, or that group or others may write to, is refused
// (whoever can write there can swap the database, the device's identity and
// trust, under the service); one that they may only read is made 0700.
AppDirResult EnsureAppDir(const std::string& metadir);

// Why the file at `path` (the database, its journal) may not be used: it
// belongs to another user, group or others may write to it, or it is not a
// regular file. Empty when it is fine or does not exist.
std::string PrivateFileProblem(const std::string& path);

// The login name of the effective user; the numeric uid when it has none.
std::string CurrentUserName();

}  // namespace morvex::platform
