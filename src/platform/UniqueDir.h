#pragma once

#include <dirent.h>

#include <memory>

namespace morvex::platform {

// Owns one open directory stream and closes it when it goes out of scope.
struct DirClose {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirClose>;

}  // namespace morvex::platform
