// The main window: the devices, sync folders and settings pages, the
// "Sync now" button, and the tray icon it drives.
#pragma once

#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "aux/Deployment.h"
#include "core/BroadcastService.h"
#include "desktop/ActivityStatus.h"
#include "desktop/DesktopContext.h"
#include "desktop/FeedbackDialogs.h"
#include "desktop/MorvexTray.h"
#include "desktop/UiReceiver.h"

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
  // The feedback window (tray, settings page, reminder), sent to the
  // deployment's statistics host.
  void OpenFeedbackWindow();
  FeedbackDialog::Upload FeedbackUpload();
  void ShowAbout();
  // The tray's "Check for updates": asks, installs and restarts, or says
  // why not. On this thread, as the user waits for its answer.
  void CheckForUpdates();
  // The reminder of a feedback, offered now and then by the status poller.
  void ShowFeedbackReminder();

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
  // The distributor's hosts and links, read once.
  const aux::Deployment deployment_;
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
  std::unique_ptr<UiReceiver> reminderReceiver_;
};

}  // namespace morvex::desktop
