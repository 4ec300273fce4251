// The main window: the devices, sync folders and settings pages, the
// "Sync now" button, and the tray icon it drives.
#pragma once

#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "core/BroadcastService.h"
#include "desktop/ActivityStatus.h"
#include "desktop/DesktopContext.h"
#include "desktop/MorvexTray.h"

namespace morvex::desktop {

class SyncFoldersPage;

// Turns the workers' broadcasts into the tray's status, animation and
// balloons and the button's state (ActivityStatus holds the counters).
// Lives on the Qt thread; the broadcasts reach it through a CUiHandler.
class MainWindow final : public QWidget, private IActivityView {
  Q_OBJECT

 public:
  explicit MainWindow(const DesktopContext& context, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Shows the tray icon and the window, follows the workers' broadcasts
  // and asks the status poller to report.
  void Start();

  // Shows, raises and activates the window (the tray's "Open Morvex").
  void Restore();

 protected:
  // With a tray the window only hides (the service keeps running);
  // without one, closing it leaves the service.
  void closeEvent(QCloseEvent* event) override;

 private:
  void SyncNow();
  // A short note for the menu commands that have no window yet.
  void ShowNotYetAvailable(const char* title);

  // IActivityView
  void SetSyncButtonBusy(bool busy) override;
  uint32_t TrayState() const override;
  void SetTrayFlags(uint32_t bits) override;
  void ClearTrayFlags(uint32_t bits) override;
  void ShowBalloon(const std::string& text) override;
  void SetTooltip(const std::string& text) override;
  void StartRefreshTimer() override;
  void StopRefreshTimer() override;

  const DesktopContext& context_;
  ActivityStatus activity_{*this};
  QTimer refreshTimer_;  // once a second while work runs
  QTimer reportTimer_;   // hourly status report
  // Children of this window (Qt owns them).
  QPushButton* syncNow_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  SyncFoldersPage* folders_ = nullptr;
  MorvexTray* tray_ = nullptr;
  // Registered from Start to the destructor.
  std::unique_ptr<core::CBroadcastReceiver> activityReceiver_;
};

}  // namespace morvex::desktop
