// The tray menu's history of recently changed files.
#pragma once

#include <QMenu>
#include <QMessageBox>
#include <QObject>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace morvex::desktop {

// Lists the newest changed files above a history floor; "Clear history"
// raises the floor to the newest change. The floor lives in memory only:
// after a restart the older files are listed again. Confined to the main
// window's thread.
class RecentChanges final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kLimit = 10;
  // Shows the file manager with this file selected.
  using Opener = std::function<void(const std::string& path)>;

  explicit RecentChanges(Opener open, QObject* parent = nullptr);

  // Rebuilds `submenu` from the index: an item per file (its name, newest
  // first) that opens it, a separator and "Clear history". Without any,
  // one greyed "(empty)" item that opens nothing, and "Clear history"
  // greyed too. Run at every opening of the menu.
  void Fill(QMenu& submenu);
  // The paths the items stand for, as the last Fill found them.
  const std::vector<std::string>& Paths() const { return paths_; }
  int64_t Floor() const { return floor_; }

  // Asks whether to clear the history (without blocking: the answer comes
  // to Answer) and on Yes tells that it is cleared.
  void AskToClear(QWidget* parent);
  // The user's answer; on Yes the floor rises to the newest change and
  // true is returned.
  bool Answer(QMessageBox::StandardButton answer);

 private:
  Opener open_;
  int64_t floor_ = 0;
  std::vector<std::string> paths_;
};

// The menu text of a path: its last component, with "&" kept literal.
QString RecentItemText(const std::string& path);

}  // namespace morvex::desktop
