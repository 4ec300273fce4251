#pragma once

#include <string_view>

namespace morvex::platform {

// The folder the service keeps at the root of a file system (beside the
// trash folders). It is never indexed, watched, listed to a peer or synced.
inline constexpr std::string_view kServiceFolderName = ".Morvex";

// The one skip rule of every directory walk: the self and parent entries and
// the service's own folder are never visited.
constexpr bool SkippedInWalk(std::string_view name) {
  return name == "." || name == ".." || name == kServiceFolderName;
}

}  // namespace morvex::platform
