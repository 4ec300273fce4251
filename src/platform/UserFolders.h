#pragma once

#include <map>
#include <string>

namespace morvex::platform {

// The user's home folder: $HOME when absolute, else the password database's
// entry; empty when neither gives one. Without trailing "/".
std::string HomeFolder();

// Where the user's configuration lives: $XDG_CONFIG_HOME when absolute,
// else "<home>/.config"; empty when there is no home folder either.
std::string ConfigHome();

// The user folders that "<config home>/user-dirs.dirs" names, by key
// (XDG_DESKTOP_DIR, ...): each value a "$HOME/..." or an absolute path in
// double quotes, with backslash escapes. Other values, comments and lines
// without a quoted value are skipped; a missing file names none.
std::map<std::string, std::string> ReadUserDirs(const std::string& home, const std::string& configHome);

}  // namespace morvex::platform
