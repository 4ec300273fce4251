// Desktop notifications of what the user must know about: a trust request
// of us (with Accept and Deny), a trusted device's key refused, a conflict
// copy made and a pass that ended with failures.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QWidget>
#include <any>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "desktop/DesktopContext.h"
#include "desktop/UiReceiver.h"

namespace morvex::desktop {

// What one notification says; `trustFrom` names the device whose trust
// request it asks about (it then carries Accept and Deny).
struct Notification {
  QString summary;
  QString body;
  std::string trustFrom;
};

// The notification of a broadcast; nothing for a code that is not
// notified or a parameter of another type.
std::optional<Notification> NotificationFor(int code, const std::any& parameter);

// Whether a notification service owns its name on `bus`.
bool NotificationServiceRuns(const QDBusConnection& bus);

// Sends the freedesktop notifications over `bus` (the session bus); where
// no notification service runs, `balloon` (the tray's) shows the text. An
// Accept or Deny on a trust request's notification does what the buttons
// of that device's open confirmation dialog do.
class Notifier final : public QObject {
  Q_OBJECT

 public:
  using Balloon = std::function<void(const QString& text)>;
  Notifier(const DesktopContext& context, QWidget* window, Balloon balloon,
           QDBusConnection bus = QDBusConnection::sessionBus());
  ~Notifier() override;

  void Show(const Notification& notification);

 private Q_SLOTS:
  void OnActionInvoked(uint id, const QString& action);
  void OnClosed(uint id, uint reason);

 private:
  // Takes a notification off the screen.
  void Withdraw(uint id);

  QWidget* window_;
  Balloon balloon_;
  QDBusConnection bus_;
  std::map<uint, std::string> trustNotifications_;  // notification id -> device UUID
  std::unique_ptr<UiReceiver> receiver_;
};

}  // namespace morvex::desktop
