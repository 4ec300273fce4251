// The service's icon in the desktop's notification area, with its menu.
#pragma once

#include <QMenu>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "desktop/RecentChanges.h"
#include "desktop/TrayIconState.h"

namespace morvex::desktop {

// The icon tells whether the service is idle or busy (indexing or syncing:
// it animates), its tooltip carries the status, balloons report finished
// work, and its menu reaches the main window, the recent changes and the
// other commands, which the menu hands on as signals. Where the desktop has
// no notification area there is no icon, and every operation reports
// failure and does nothing. Made and used on the main window's thread.
class MorvexTray final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kTooltipLength = 127;
  static constexpr int kBalloonLength = 255;
  static constexpr int kBalloonMs = 30000;
  static constexpr int kFrameMs = 250;

  explicit MorvexTray(QObject* parent = nullptr);
  ~MorvexTray() override;

  // Makes and shows the icon, with the product name as its tooltip; false
  // (and no icon) where the desktop has no notification area.
  bool Create();
  bool Available() const { return icon_ != nullptr; }

  bool ShowBalloon(const QString& text);
  bool SetTooltip(const QString& text);
  // Sets or clears state bits (TrayIconState::Bits) and switches between
  // the still icon and the animation to match.
  bool SetFlags(uint32_t bits);
  bool ClearFlags(uint32_t bits);
  uint32_t State() const { return state_.State(); }

 Q_SIGNALS:
  void openRequested();
  void checkForUpdatesRequested();
  void feedbackRequested();
  void aboutRequested();
  void exitRequested();

 private:
  void BuildMenu();
  void Apply(TrayIconState::Change change);
  void ShowIcon(int resource);

  TrayIconState state_;
  RecentChanges recent_;
  QTimer animation_;
  // Null without a notification area. The menu has no parent widget, so it
  // is owned here; it outlives the icon that shows it.
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace morvex::desktop
