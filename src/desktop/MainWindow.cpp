#include "desktop/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>
#include <functional>

#include "aux/AutoUpdater.h"
#include "aux/ProgramVersion.h"
#include "aux/UpdateTexts.h"
#include "desktop/Desktop.h"
#include "aux/UsageReport.h"
#include "config/ConfigTable.h"
#include "desktop/DevicesPage.h"
#include "desktop/FeedbackDialogs.h"
#include "desktop/Icons.h"
#include "desktop/Notifier.h"
#include "desktop/ServiceRequests.h"
#include "desktop/SettingsPage.h"
#include "desktop/Strings.h"
#include "desktop/SyncFoldersPage.h"
#include "desktop/TrustPrompt.h"
#include "desktop/UiHandler.h"
#include "peer/Relations.h"

namespace morvex::desktop {

namespace {

constexpr int kRefreshMs = 1000;
constexpr int kReportMs = 3600 * 1000;

// The broadcast codes the activity follows.
constexpr int kActivityCodes[] = {core::BM_SYNC_BEGIN,    core::BM_SYNC_END,       core::BM_DELETE_APPLIED,
                                  core::BM_INDEX_BEGIN,   core::BM_INDEX_PROGRESS, core::BM_BYTES_TOTAL,
                                  core::BM_BYTES_DONE,    core::BM_BYTES_SKIPPED,  core::BM_FILES_TOTAL,
                                  core::BM_FILES_DONE,    core::BM_FILES_LEFT,     core::BM_INVALID_NAME};

// The sync folders page sees each event first, for its per-folder progress.
class ActivityReceiver final : public core::CBroadcastReceiver {
 public:
  ActivityReceiver(std::unique_ptr<core::CHandler> handler, SyncFoldersPage& folders, ActivityStatus& activity)
      : CBroadcastReceiver(std::move(handler)), folders_(folders), activity_(activity) {}
  bool OnReceive(int code, const std::any& parameter) override {
    folders_.OnBroadcast(code, parameter);
    return activity_.OnBroadcast(code, parameter);
  }

 private:
  SyncFoldersPage& folders_;
  ActivityStatus& activity_;
};

}  // namespace

MainWindow::MainWindow(const DesktopContext& context, QWidget* parent)
    : QWidget(parent), context_(context), deployment_(aux::LoadDeployment(context.appDir)) {
  setWindowTitle(QString::fromUtf8(Text(107)));
  setWindowIcon(Icon(kIconApp));
  syncNow_ = new QPushButton(QString::fromUtf8(Text(104)), this);
  tabs_ = new QTabWidget(this);
  tabs_->addTab(new DevicesPage(context_, tabs_), QString::fromUtf8(Text(155)));
  folders_ = new SyncFoldersPage(context_, tabs_);
  tabs_->addTab(folders_, QString::fromUtf8(Text(156)));
  auto* settings = new SettingsPage(context_, tabs_);
  tabs_->addTab(settings, QString::fromUtf8(Text(157)));
  connect(settings, &SettingsPage::feedbackRequested, this, &MainWindow::OpenFeedbackWindow);
  auto* top = new QHBoxLayout;
  top->addStretch();
  top->addWidget(syncNow_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(tabs_);
  connect(syncNow_, &QPushButton::clicked, this, &MainWindow::SyncNow);

  tray_ = new MorvexTray(this);
  connect(tray_, &MorvexTray::openRequested, this, &MainWindow::Restore);
  connect(tray_, &MorvexTray::exitRequested, this, [this] { context_.loop.Quit(); });
  connect(tray_, &MorvexTray::checkForUpdatesRequested, this, &MainWindow::CheckForUpdates);
  connect(tray_, &MorvexTray::feedbackRequested, this, &MainWindow::OpenFeedbackWindow);
  connect(tray_, &MorvexTray::aboutRequested, this, &MainWindow::ShowAbout);

  refreshTimer_.setInterval(kRefreshMs);
  connect(&refreshTimer_, &QTimer::timeout, this, [this] {
    activity_.OnRefreshTimer();
    folders_->Refresh();
  });
  reportTimer_.setInterval(kReportMs);
  connect(&reportTimer_, &QTimer::timeout, this, [this] { RequestStatusReport(context_.zmq); });

  // Both are QObject children of this window.
  new TrustPrompt(context_, this);
  new Notifier(context_, this, [this](const QString& text) { tray_->ShowBalloon(text); });
}

MainWindow::~MainWindow() {
  if (!activityReceiver_) return;
  for (int code : kActivityCodes) core::CBroadcastService::Instance().Unregister(code, activityReceiver_.get());
}

void MainWindow::Start() {
  // Without a notification area the window is the only way in; it opens
  // at start either way.
  tray_->Create();
  activityReceiver_ =
      std::make_unique<ActivityReceiver>(std::make_unique<CUiHandler>(context_.loop, this), *folders_, activity_);
  for (int code : kActivityCodes) core::CBroadcastService::Instance().Register(code, activityReceiver_.get());
  reminderReceiver_ = std::make_unique<UiReceiver>(context_.loop, this, std::vector<int>{core::BM_FEEDBACK_REMIND},
                                                   [this](int, const std::any&) { ShowFeedbackReminder(); });
  RequestStatusReport(context_.zmq);
  reportTimer_.start();
  show();
}

void MainWindow::Restore() {
  showNormal();
  raise();
  activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (tray_->Available()) {
    event->ignore();
    hide();
    return;
  }
  event->accept();
  context_.loop.Quit();
}

void MainWindow::SyncNow() { RequestSyncPasses(context_.zmq, peer::RelationIds()); }

FeedbackDialog::Upload MainWindow::FeedbackUpload() {
  return [this](const std::string& rating, const std::string& comment, const std::string& contact) {
    return aux::UploadFeedback(deployment_, context_.config.Snapshot()->deviceUuid, rating, comment, contact);
  };
}

void MainWindow::OpenFeedbackWindow() { OpenFeedback(this, FeedbackUpload()); }

void MainWindow::ShowAbout() {
  auto* about = new AboutDialog(this, aux::ProgramVersion(), deployment_.website, deployment_.support);
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->open();
}

void MainWindow::ShowFeedbackReminder() {
  if (findChild<FeedbackReminder*>() || findChild<FeedbackDialog*>()) return;
  auto* reminder = new FeedbackReminder(this, FeedbackUpload(), [] { config::StoreFeedBackState("second"); });
  reminder->setAttribute(Qt::WA_DeleteOnClose);
  reminder->open();
}

void MainWindow::CheckForUpdates() {
  aux::UpdateOptions options;
  options.confirm = AskToUpdate;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const aux::UpdateCheck check = aux::CheckForUpdate(true, deployment_, options);
  QApplication::restoreOverrideCursor();
  if (check.message) {
    QMessageBox::information(this, QString::fromUtf8(Text(107)), QString::fromUtf8(core::Tr(check.message)));
  }
  if (check.restart && context_.restart && context_.restart()) context_.loop.Quit();
}

void MainWindow::SetSyncButtonBusy(bool busy) {
  syncNow_->setEnabled(!busy);
  syncNow_->setText(QString::fromUtf8(Text(busy ? 105 : 104)));
}

uint32_t MainWindow::TrayState() const { return tray_->State(); }
void MainWindow::SetTrayFlags(uint32_t bits) { tray_->SetFlags(bits); }
void MainWindow::ClearTrayFlags(uint32_t bits) { tray_->ClearFlags(bits); }
void MainWindow::ShowBalloon(const std::string& text) { tray_->ShowBalloon(QString::fromStdString(text)); }
void MainWindow::SetTooltip(const std::string& text) { tray_->SetTooltip(QString::fromStdString(text)); }
void MainWindow::StartRefreshTimer() { refreshTimer_.start(); }
void MainWindow::StopRefreshTimer() {
  refreshTimer_.stop();
  folders_->Refresh();  // the last word of the work that stopped
}

}  // namespace morvex::desktop
