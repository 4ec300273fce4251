#include "desktop/Notifier.h"

#include <glog/logging.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <utility>

#include "Morvex.pb.h"
#include "core/BroadcastService.h"
#include "desktop/Strings.h"
#include "desktop/TrustDialogs.h"
#include "desktop/TrustPrompt.h"
#include "device/DeviceQueries.h"
#include "events/EventHistory.h"

namespace morvex::desktop {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kAcceptAction = QStringLiteral("accept");
const QString kDenyAction = QStringLiteral("deny");
// The name the application's icon and desktop entry are installed under.
const QString kAppIconName = QStringLiteral("morvex");

QString Utf8(const std::string& text) { return QString::fromStdString(text); }

// A device as the user knows it: its name, else its UUID.
std::string NameOf(const std::string& uuid) {
  std::string name = uuid;
  device::DeviceName(uuid, name);
  return name;
}

// The event history's words for the kind, as a heading.
QString Heading(int code) {
  QString words = QString::fromUtf8(core::Tr(events::KindWords(code)));
  if (!words.isEmpty()) words[0] = words[0].toUpper();
  return words;
}

}  // namespace

std::optional<Notification> NotificationFor(int code, const std::any& parameter) {
  switch (code) {
    case core::BM_TRUST_REQUEST: {
      const auto* request = std::any_cast<qo::WinTrustInfo>(&parameter);
      std::string name;
      // A device we do not know gets no question (nor a dialog).
      if (!request || !device::DeviceName(request->device_uuid(), name)) return std::nullopt;
      return Notification{QString::fromUtf8(core::Tr(text::kConfirmTitle)),
                          Utf8(Printf(core::Tr(Str(200)), name.c_str())), request->device_uuid()};
    }
    case core::BM_TRUSTED_KEY_MISMATCH: {
      const auto* key = std::any_cast<core::DeviceKeyEvent>(&parameter);
      if (!key) return std::nullopt;
      return Notification{Heading(code),
                          Utf8(Printf(core::Tr(text::kKeyRefusedBody), key->deviceName.c_str(), key->address.c_str())),
                          {}};
    }
    case core::BM_CONFLICT_COPY:
    case core::BM_PASS_FAILED: {
      const auto* path = std::any_cast<core::PathEvent>(&parameter);
      if (!path) return std::nullopt;
      const std::string peer = NameOf(path->deviceUuid);
      const std::string body = code == core::BM_CONFLICT_COPY
                                   ? Printf(core::Tr(text::kConflictCopyBody), path->path.c_str(), peer.c_str())
                                   : Printf(core::Tr(text::kPassFailedBody), path->path.c_str(), peer.c_str());
      return Notification{Heading(code), Utf8(body), {}};
    }
    default:
      return std::nullopt;
  }
}

bool NotificationServiceRuns(const QDBusConnection& bus) {
  if (!bus.isConnected() || !bus.interface()) return false;
  const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(kService);
  return registered.isValid() && registered.value();
}

Notifier::Notifier(const DesktopContext& context, QWidget* window, Balloon balloon, QDBusConnection bus)
    : QObject(window), window_(window), balloon_(std::move(balloon)), bus_(std::move(bus)) {
  if (bus_.isConnected()) {
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(OnActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(OnClosed(uint, uint)));
  }
  receiver_ = std::make_unique<UiReceiver>(
      context.loop, window_,
      std::vector<int>{core::BM_TRUST_REQUEST, core::BM_TRUSTED_KEY_MISMATCH, core::BM_CONFLICT_COPY,
                       core::BM_PASS_FAILED},
      [this](int code, const std::any& parameter) {
        if (const std::optional<Notification> notification = NotificationFor(code, parameter)) Show(*notification);
      });
}

Notifier::~Notifier() = default;

void Notifier::Show(const Notification& notification) {
  if (!NotificationServiceRuns(bus_)) {
    if (balloon_) balloon_(notification.body);
    return;
  }
  QStringList actions;
  if (!notification.trustFrom.empty()) {
    actions << kAcceptAction << QString::fromUtf8(core::Tr(text::kTrustThisDevice)) << kDenyAction
            << QString::fromUtf8(core::Tr(text::kDenyTrust));
  }
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), kAppIconName);
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  call << QString::fromUtf8(Text(107)) << 0u << kAppIconName << notification.summary << notification.body << actions
       << hints << -1;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  const std::string trustFrom = notification.trustFrom;
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, trustFrom](QDBusPendingCallWatcher* finished) {
    const QDBusPendingReply<uint> reply = *finished;
    finished->deleteLater();
    if (reply.isError()) {
      LOG(WARNING) << "The notification service refused a notification: " << reply.error().message().toStdString();
      return;
    }
    if (trustFrom.empty()) return;
    const uint id = reply.value();
    // The question goes with its dialog: answered there or timed out, the
    // notification's buttons would answer nothing.
    TrustConfirmDialog* dialog = TrustPrompt::OpenDialogFor(window_, trustFrom);
    if (!dialog) {
      Withdraw(id);
      return;
    }
    trustNotifications_[id] = trustFrom;
    connect(dialog, &QDialog::finished, this, [this, id] {
      if (trustNotifications_.erase(id) > 0) Withdraw(id);
    });
  });
}

void Notifier::Withdraw(uint id) {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
  call << id;
  bus_.asyncCall(call);
}

void Notifier::OnActionInvoked(uint id, const QString& action) {
  const auto found = trustNotifications_.find(id);
  if (found == trustNotifications_.end()) return;
  const std::string uuid = found->second;
  trustNotifications_.erase(found);
  // The dialog's buttons answer; a question already answered or timed out
  // has no dialog left.
  TrustConfirmDialog* dialog = TrustPrompt::OpenDialogFor(window_, uuid);
  if (!dialog) return;
  if (action == kAcceptAction) dialog->accept();
  if (action == kDenyAction) dialog->reject();
}

void Notifier::OnClosed(uint id, uint) { trustNotifications_.erase(id); }

}  // namespace morvex::desktop
