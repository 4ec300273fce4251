#include "desktop/MorvexTray.h"

#include <QAction>

#include "desktop/FileManager.h"
#include "desktop/Icons.h"
#include "desktop/Strings.h"

namespace morvex::desktop {

MorvexTray::MorvexTray(QObject* parent)
    : QObject(parent), recent_([](const std::string& path) { ShowInFileManager(path); }) {
  animation_.setInterval(kFrameMs);
  connect(&animation_, &QTimer::timeout, this, [this] { ShowIcon(state_.NextFrame()); });
}

MorvexTray::~MorvexTray() = default;

bool MorvexTray::Create() {
  if (icon_) return true;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  BuildMenu();
  icon_ = std::make_unique<QSystemTrayIcon>(Icon(state_.ShownIcon()));
  icon_->setToolTip(QString::fromUtf8(Text(107)));
  icon_->setContextMenu(menu_.get());
  connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    // A double click runs the menu's default item. So does a single click
    // ("activate"): the notification areas of most Linux desktops send
    // nothing else for a left click.
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) Q_EMIT openRequested();
  });
  icon_->show();
  return true;
}

void MorvexTray::BuildMenu() {
  menu_ = std::make_unique<QMenu>();
  auto tr = [](const char* english) { return QString::fromUtf8(core::Tr(english)); };
  QAction* open = menu_->addAction(tr(text::kOpenMorvex), this, &MorvexTray::openRequested);
  menu_->setDefaultAction(open);
  menu_->addSeparator();
  QMenu* recent = menu_->addMenu(tr(text::kRecentChanges));
  // Built afresh at every opening: the files change while the menu is
  // closed. Where the menu is exported over D-Bus, the host may ask for the
  // submenu on its own, so its opening rebuilds it too.
  connect(menu_.get(), &QMenu::aboutToShow, this, [this, recent] { recent_.Fill(*recent); });
  connect(recent, &QMenu::aboutToShow, this, [this, recent] { recent_.Fill(*recent); });
  menu_->addSeparator();
  menu_->addAction(tr(text::kCheckForUpdates), this, &MorvexTray::checkForUpdatesRequested);
  menu_->addAction(tr(text::kSendFeedback), this, &MorvexTray::feedbackRequested);
  menu_->addAction(tr(text::kAbout), this, &MorvexTray::aboutRequested);
  menu_->addSeparator();
  menu_->addAction(tr(text::kExit), this, &MorvexTray::exitRequested);
}

bool MorvexTray::ShowBalloon(const QString& text) {
  if (!icon_ || !QSystemTrayIcon::supportsMessages()) return false;
  icon_->showMessage(QString(), text.left(kBalloonLength), QSystemTrayIcon::NoIcon, kBalloonMs);
  return true;
}

bool MorvexTray::SetTooltip(const QString& text) {
  if (!icon_) return false;
  icon_->setToolTip(text.left(kTooltipLength));
  return true;
}

bool MorvexTray::SetFlags(uint32_t bits) {
  if (!icon_) return false;
  Apply(state_.SetFlags(bits));
  return true;
}

bool MorvexTray::ClearFlags(uint32_t bits) {
  if (!icon_) return false;
  Apply(state_.ClearFlags(bits));
  return true;
}

void MorvexTray::Apply(TrayIconState::Change change) {
  switch (change) {
    case TrayIconState::Change::kNone:
      return;
    case TrayIconState::Change::kShowStill:
      animation_.stop();
      break;
    case TrayIconState::Change::kStartAnimation:
      animation_.start();
      break;
  }
  ShowIcon(state_.ShownIcon());
}

void MorvexTray::ShowIcon(int resource) {
  if (icon_) icon_->setIcon(Icon(resource));
}

}  // namespace morvex::desktop
