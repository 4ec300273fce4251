// Starting the service when the user logs in: an XDG autostart entry,
// "$XDG_CONFIG_HOME/autostart/Morvex.desktop" (default ~/.config), that
// runs this very program. The setup wizard and the settings page make and
// remove it; whether it is there is whether that file exists.
//
// The entry is a convenience: a failure is logged as a WARNING and reported
// as false, never thrown, and never stops the caller.
#pragma once

#include <string>

namespace morvex::desktop {

class Autostart {
 public:
  // `file` defaults to the user's entry (DefaultFile()).
  explicit Autostart(std::string file = DefaultFile());

  // Writes the entry for the running program (/proc/self/exe), replacing a
  // file of that name: a new file renamed over the old one, so a reader
  // never finds half an entry.
  bool Create() const;
  // Removes the entry; true when it is gone (also when it never was).
  bool Remove() const;
  bool Exists() const;

  const std::string& File() const { return file_; }

  // "<config home>/autostart/Morvex.desktop"; empty without a home folder.
  static std::string DefaultFile();
  // The entry's text for `program`.
  static std::string EntryFor(const std::string& program);
  // `argument` as one word of a desktop entry's Exec key: quoted when it
  // holds a reserved character, and escaped for the file's string syntax.
  static std::string ExecWord(const std::string& argument);

 private:
  std::string file_;
};

}  // namespace morvex::desktop
