#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morvex::platform {

// One line of this process's mount table.
struct MountEntry {
  std::string source;  // the device or server
  std::string target;  // the mount point, unescaped
  std::string type;    // the file-system type ("ext4", "proc", ...)
};

// The mount table (/proc/self/mounts) in its order; nullopt when it cannot
// be read. The one reader of that table: getmntent undoes the kernel's
// escapes of space, tab, newline and backslash in the fields.
std::optional<std::vector<MountEntry>> ReadMountTable();

}  // namespace morvex::platform
