#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvex::index {

// The paths the index never records: trash and lost-and-found folders at
// the root of a file system (".Trash", ".Trash-<uid>", "lost+found") with
// their contents, names ending in ".tmp", paths containing "~$" (office
// lock files) and the ".Morvex" folder at a file-system root. Matched
// against the whole path without regard to letter case.
//
// Threads: immutable after construction; shared freely.
class IgnoreRules {
 public:
  // The mount points of this system, from /proc/self/mounts.
  IgnoreRules();
  // Explicit mount points (tests).
  explicit IgnoreRules(std::vector<std::string> mountPoints);

  bool Ignored(std::string_view path) const;

 private:
  // The longest mount point that `path` lies in, at a "/" boundary.
  std::string_view MountOf(std::string_view path) const;

  std::vector<std::string> mounts_;  // longest first
};

// A temporary download file: its name ends in ".~morvex" (exact case).
bool IsTmpFile(std::string_view path);

}  // namespace morvex::index
