// Showing files and folders in the desktop's file manager.
#pragma once

#include <QString>
#include <string>

namespace morvex::desktop {

// The file: URI of a local path, its bytes percent-encoded ("/a b" ->
// "file:///a%20b").
QString FileUri(const std::string& path);

// The folder that holds `path` ("/a/b" -> "/a"; "/" for a top-level entry).
std::string ContainingFolder(const std::string& path);

// Opens the file manager with `path` selected: through the freedesktop
// file-manager interface on the session bus when a file manager offers it,
// else xdg-open on the containing folder. A file that no longer exists
// still opens the file manager, which shows what it can. Does not wait for
// the file manager; false when neither way could be started.
bool ShowInFileManager(const std::string& path);

// Opens the file manager on the folder `path` itself, the same two ways.
bool OpenFolderInFileManager(const std::string& path);

}  // namespace morvex::desktop
