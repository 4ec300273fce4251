// Helpers shared by the desktop's widget tests.
#pragma once

#include <QMessageBox>
#include <QStringList>
#include <QWidget>
#include <cstdlib>
#include <optional>
#include <string>

#include "support/TempDir.h"

namespace morvex::desktop::test {

// $XDG_CONFIG_HOME in a temporary folder for the object's life, so that
// autostart entries land there and not in the user's configuration.
class TempConfigHome {
 public:
  TempConfigHome() {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) old_ = old;
    setenv("XDG_CONFIG_HOME", dir_.Path().c_str(), 1);
  }
  ~TempConfigHome() {
    if (old_) {
      setenv("XDG_CONFIG_HOME", old_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }
  TempConfigHome(const TempConfigHome&) = delete;
  TempConfigHome& operator=(const TempConfigHome&) = delete;

  std::string AutostartFile() const { return dir_ / "autostart/Morvex.desktop"; }

 private:
  morvex::test::TempDir dir_;
  std::optional<std::string> old_;
};

// The texts of the message boxes open below `root`, which are then closed.
inline QStringList TakeOpenBoxes(QWidget& root) {
  QStringList texts;
  for (QMessageBox* box : root.findChildren<QMessageBox*>()) {
    if (!box->isVisible()) continue;
    texts << box->text();
    box->close();
  }
  return texts;
}

}  // namespace morvex::desktop::test
