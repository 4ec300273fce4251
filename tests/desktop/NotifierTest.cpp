// The notifications' texts from their broadcasts, and the tray's balloon
// where no notification service can be reached.
#include <gtest/gtest.h>

#include <QDBusConnection>

#include "Morvex.pb.h"
#include "core/BroadcastService.h"
#include "desktop/DesktopFixture.h"
#include "desktop/Notifier.h"

namespace morvex::desktop {
namespace {

class NotifierTest : public DesktopFixture {};

TEST_F(NotifierTest, TextsOfEachNotifiedEvent) {
  qo::WinTrustInfo request;
  request.set_device_uuid("cc-stranger");
  struct Case {
    int code;
    std::any parameter;
    const char* summary;
    const char* body;
    const char* trustFrom;
  };
  const Case cases[] = {
      {core::BM_TRUST_REQUEST, request, "Trust request",
       "Device stranger wants to connect to this device. Do you trust it?", "cc-stranger"},
      {core::BM_TRUSTED_KEY_MISMATCH, core::DeviceKeyEvent{"bb-friend", "friend", "10.0.0.9"},
       "Trusted device's key refused",
       "The trusted device \"friend\" answered from 10.0.0.9 with another key: it may not be that device. Its "
       "messages are refused.",
       ""},
      {core::BM_CONFLICT_COPY, core::PathEvent{"bb-friend", "/home/u/Docs/a (conflict).txt"}, "Conflict copy made",
       "Both versions of a file were kept: the copy \"/home/u/Docs/a (conflict).txt\" was made while syncing with "
       "friend",
       ""},
      {core::BM_PASS_FAILED, core::PathEvent{"dd-gone", "/home/u/Docs"}, "Pass ended with failures",
       "Syncing \"/home/u/Docs\" with dd-gone ended with files not done", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const std::optional<Notification> notification = NotificationFor(c.code, c.parameter);
    ASSERT_TRUE(notification);
    EXPECT_EQ(notification->summary, c.summary);
    EXPECT_EQ(notification->body, c.body);
    EXPECT_EQ(notification->trustFrom, c.trustFrom);
  }
  EXPECT_FALSE(NotificationFor(core::BM_TRUST_REQUEST, int32_t{3}));
  request.set_device_uuid("zz-unknown");
  EXPECT_FALSE(NotificationFor(core::BM_TRUST_REQUEST, request));
  EXPECT_FALSE(NotificationFor(core::BM_SYNC_BEGIN, {}));
}

TEST_F(NotifierTest, WithoutANotificationServiceTheBalloonShowsIt) {
  // A bus that cannot be reached: no test needs a running D-Bus.
  const QDBusConnection noBus =
      QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/morvex-test-bus"), QStringLiteral("none"));
  ASSERT_FALSE(noBus.isConnected());
  EXPECT_FALSE(NotificationServiceRuns(noBus));
  QWidget window;
  std::vector<std::string> balloons;
  Notifier notifier(context_, &window, [&](const QString& text) { balloons.push_back(text.toStdString()); }, noBus);
  core::CBroadcastService::Instance().Broadcast(core::BM_PASS_FAILED, core::PathEvent{"bb-friend", "/d"});
  core::CBroadcastService::Instance().Broadcast(core::BM_SYNC_BEGIN);
  Deliver();
  EXPECT_EQ(balloons, (std::vector<std::string>{"Syncing \"/d\" with friend ended with files not done"}));
}

}  // namespace
}  // namespace morvex::desktop
