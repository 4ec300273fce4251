#pragma once

#include <optional>
#include <string>

// Where a path sent by a peer may lead on this device. A peer names a file
// of a tree by a wire path relative to the tree's root; whatever it sends,
// the resulting local path must stay inside that tree.
namespace morvex::peer {

// The textual rules of a wire path relative to a tree: it begins with "/",
// every component between the slashes is non-empty, neither "." nor "..",
// at most 255 bytes, holds no NUL byte, and the whole text is valid UTF-8.
// "/" alone (no component) does not pass.
bool ValidWirePath(const std::string& wirePath);

// The full local path (tree root, "/", relative path) for `wirePath`, or
// nothing when the wire path breaks the textual rules, the result would not
// fit in PATH_MAX, or an existing component below the tree root is a
// symbolic link (or cannot be examined). Components that do not exist are
// fine: the file may not exist yet. The tree root itself is trusted as
// configured on this device.
std::optional<std::string> ConfinedPath(const std::string& treeRoot, const std::string& wirePath);

}  // namespace morvex::peer
