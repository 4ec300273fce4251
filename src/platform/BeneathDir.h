#pragma once

#include <sys/types.h>

#include <string>

#include "platform/UniqueFd.h"

// Reaching entries below a trusted folder (a sync tree's root) so that no
// step can leave it: every component is resolved by the kernel beneath a
// descriptor of the root, and no symbolic link is followed on the way.
// A folder swapped for a link between a check and a write therefore makes
// the write fail instead of landing elsewhere.
namespace morvex::platform {

// Opens `relative` ("a/b", no leading "/"; "" or "." for the folder itself)
// below the folder open as `dirFd` with openat2(RESOLVE_BENEATH |
// RESOLVE_NO_SYMLINKS). -1 with errno on failure: ELOOP for a link on the
// way, EXDEV for a path that would leave the folder.
UniqueFd OpenBeneath(int dirFd, const std::string& relative, int flags, mode_t mode = 0);

// The errors by which OpenBeneath and ResolveBeneath refuse a path that
// would leave the root or pass a link.
bool IsEscapeError(int err);

// The folder that holds an entry below a root, and the entry's name in it;
// the *at calls on `dir` with `name` touch exactly that entry and never
// follow a link in its place.
struct BeneathEntry {
  UniqueFd dir;  // O_PATH descriptor of the holding folder
  std::string name;
};

// Resolves `fullPath`, which must lie below `root` (root + "/" + at least
// one component), into its holding folder and name. With `makeParents`,
// missing folders on the way are made, each one beneath the one before.
// False with errno on failure; EXDEV for a path that is not below `root`.
bool ResolveBeneath(const std::string& root, const std::string& fullPath, bool makeParents, BeneathEntry& entry);

}  // namespace morvex::platform
