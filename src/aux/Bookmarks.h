#pragma once

#include <functional>
#include <string>

namespace morvex::aux {

// The sync folders as bookmarks of the desktop's file manager: one
// "file://" line per folder in $XDG_CONFIG_HOME/gtk-3.0/bookmarks (default
// ~/.config). Lines of other programs are kept as they are; a folder is
// never listed twice; the file is rewritten atomically (a new file renamed
// over the old one) and created when missing.
//
// Threads: called from request workers; a process-wide mutex serialises
// the read-modify-write.
class Bookmarks {
 public:
  // `file` defaults to the user's GTK bookmarks file.
  explicit Bookmarks(std::string file = DefaultFile());

  bool Add(const std::string& folder);
  bool Remove(const std::string& folder);

  static std::string DefaultFile();
  // "file://" + the path with every byte outside [A-Za-z0-9/._~-] percent-encoded.
  static std::string ToUri(const std::string& folder);

 private:
  bool Rewrite(const std::string& folder, bool present);

  std::string file_;
};

// What the service does with the bookmarks when a tree is added or removed.
// Bookmarks are a convenience of the desktop: a headless service (a server,
// a test profile) leaves the user's file manager alone, and both are empty.
struct BookmarkHooks {
  std::function<void(const std::string& folder)> added;
  std::function<void(const std::string& folder)> removed;
};
BookmarkHooks BookmarkHooksFor(bool headless, const std::string& file = Bookmarks::DefaultFile());

}  // namespace morvex::aux
