#include "desktop/MainWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>
#include <functional>

#include "desktop/DevicesPage.h"
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

MainWindow::MainWindow(const DesktopContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setWindowTitle(QString::fromUtf8(Text(107)));
  setWindowIcon(Icon(kIconApp));
  syncNow_ = new QPushButton(QString::fromUtf8(Text(104)), this);
  tabs_ = new QTabWidget(this);
  tabs_->addTab(new DevicesPage(context_, tabs_), QString::fromUtf8(Text(155)));
  folders_ = new SyncFoldersPage(context_, tabs_);
  tabs_->addTab(folders_, QString::fromUtf8(Text(156)));
  tabs_->addTab(new SettingsPage(context_, tabs_), QString::fromUtf8(Text(157)));
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
  connect(tray_, &MorvexTray::checkForUpdatesRequested, this,
          [this] { ShowNotYetAvailable(text::kCheckForUpdates); });
  connect(tray_, &MorvexTray::feedbackRequested, this, [this] { ShowNotYetAvailable(text::kSendFeedback); });
  connect(tray_, &MorvexTray::aboutRequested, this, [this] { ShowNotYetAvailable(text::kAbout); });

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

void MainWindow::ShowNotYetAvailable(const char* title) {
  auto* box = new QMessageBox(QMessageBox::Information, QString::fromUtf8(core::Tr(title)).remove(QLatin1Char('&')),
                              QString::fromUtf8(core::Tr(text::kNotYetAvailable)), QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
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
