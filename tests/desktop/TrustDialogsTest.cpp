// The trust dialogs: their countdowns, the broadcasts that close them and
// what each way of closing tells the service; the prompt that opens the
// confirmation for a trust request.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "Morvex.pb.h"
#include "core/BroadcastService.h"
#include "desktop/DesktopFixture.h"
#include "desktop/Strings.h"
#include "desktop/TrustDialogs.h"
#include "desktop/TrustPrompt.h"

namespace morvex::desktop {
namespace {

qo::WinTrustInfo TrustInfo(const std::string& uuid, int timeout) {
  qo::WinTrustInfo info;
  info.set_timestamp(1);
  info.set_timeout(timeout);
  info.set_cert("token");
  info.set_device_uuid(uuid);
  return info;
}

class TrustDialogsTest : public DesktopFixture {
 protected:
  const TrustPeer peer_{42, "bb-friend", "friend", 0};
};

TEST_F(TrustDialogsTest, CountdownsShowEverySecondAndEndAtZero) {
  TrustWaitingDialog waiting(nullptr, loop_, actions_, peer_);
  TrustConfirmDialog confirm(nullptr, loop_, actions_, peer_, 5);
  waiting.open();
  confirm.open();
  EXPECT_EQ(waiting.windowTitle(), "Waiting for the other device");
  EXPECT_EQ(confirm.windowTitle(), "Trust request");
  EXPECT_EQ(confirm.Message(), "Device friend wants to connect to this device. Do you trust it?");
  EXPECT_EQ(confirm.AcceptButton()->text(), "Trust this device");
  EXPECT_EQ(confirm.AcceptButton()->objectName(), "acceptTrust");
  EXPECT_EQ(confirm.CountdownButton()->objectName(), "denyTrust");
  EXPECT_EQ(waiting.CountdownButton()->objectName(), "cancelWaiting");
  for (int left = 30; left >= 1; --left) {
    EXPECT_EQ(waiting.CountdownButton()->text().toStdString(), Printf("Cancel (%02d)", left));
    EXPECT_EQ(waiting.End(), TrustEnd::kOpen);
    waiting.Tick();
  }
  EXPECT_EQ(waiting.End(), TrustEnd::kTimedOut);
  EXPECT_EQ(waiting.result(), QDialog::Rejected);
  EXPECT_FALSE(waiting.isVisible());

  for (int tick = 0; tick < 4; ++tick) confirm.Tick();
  EXPECT_EQ(confirm.CountdownButton()->text(), "Cancel (01)");
  EXPECT_EQ(confirm.End(), TrustEnd::kOpen);
  confirm.Tick();
  EXPECT_EQ(confirm.End(), TrustEnd::kTimedOut);
  EXPECT_EQ(confirm.result(), QDialog::Rejected);
  // The asking side's time-out sends nothing; the asked side's refuses.
  EXPECT_EQ(actions_.done, (std::vector<std::string>{"refuse bb-friend"}));
}

TEST_F(TrustDialogsTest, BroadcastsCloseOnlyTheDialogOfTheirDevice) {
  struct Case {
    const char* what;
    bool confirm;
    int code;
    std::any parameter;
    TrustEnd end;  // kOpen: stays open
  };
  const Case cases[] = {
      {"allow", false, core::BM_TRUST_ALLOW, int32_t{42}, TrustEnd::kAccepted},
      {"deny", false, core::BM_TRUST_DENY, int32_t{42}, TrustEnd::kRefused},
      {"allow another", false, core::BM_TRUST_ALLOW, int32_t{7}, TrustEnd::kOpen},
      {"deny another", false, core::BM_TRUST_DENY, int32_t{7}, TrustEnd::kOpen},
      {"cancel for the waiting side", false, core::BM_TRUST_CANCEL, TrustInfo("bb-friend", 30), TrustEnd::kOpen},
      {"cancel", true, core::BM_TRUST_CANCEL, TrustInfo("bb-friend", 0), TrustEnd::kCancelled},
      {"cancel another", true, core::BM_TRUST_CANCEL, TrustInfo("cc-stranger", 0), TrustEnd::kOpen},
      {"allow for the asked side", true, core::BM_TRUST_ALLOW, int32_t{42}, TrustEnd::kOpen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<TrustDialog> dialog;
    if (c.confirm) {
      dialog = std::make_unique<TrustConfirmDialog>(nullptr, loop_, actions_, peer_, 30);
    } else {
      dialog = std::make_unique<TrustWaitingDialog>(nullptr, loop_, actions_, peer_);
    }
    dialog->open();
    core::CBroadcastService::Instance().Broadcast(c.code, c.parameter);
    EXPECT_EQ(dialog->End(), TrustEnd::kOpen) << "closed before its turn on the window's thread";
    Deliver();
    EXPECT_EQ(dialog->End(), c.end);
    EXPECT_EQ(dialog->result(), c.end == TrustEnd::kAccepted ? QDialog::Accepted : QDialog::Rejected);
  }
  EXPECT_TRUE(actions_.done.empty()) << "closing on the other side's word sends nothing";

  // A dialog gone before its broadcast's turn is not reached.
  auto dialog = std::make_unique<TrustWaitingDialog>(nullptr, loop_, actions_, peer_);
  core::CBroadcastService::Instance().Broadcast(core::BM_TRUST_ALLOW, int32_t{42});
  dialog.reset();
  Deliver();
}

TEST_F(TrustDialogsTest, ButtonsTellTheService) {
  TrustWaitingDialog waiting(nullptr, loop_, actions_, peer_);
  waiting.open();
  waiting.CountdownButton()->click();
  EXPECT_EQ(waiting.End(), TrustEnd::kCancelled);

  TrustConfirmDialog accepted(nullptr, loop_, actions_, peer_, 30);
  accepted.open();
  accepted.AcceptButton()->click();
  EXPECT_EQ(accepted.End(), TrustEnd::kAccepted);
  EXPECT_EQ(accepted.result(), QDialog::Accepted);

  TrustConfirmDialog refused(nullptr, loop_, actions_, peer_, 30);
  refused.open();
  refused.CountdownButton()->click();
  refused.AcceptButton()->click();  // already closed: nothing more
  EXPECT_EQ(refused.End(), TrustEnd::kRefused);

  // The keyboard: Return presses "Trust this device", Escape refuses.
  TrustConfirmDialog byReturn(nullptr, loop_, actions_, peer_, 30);
  byReturn.open();
  QTest::keyClick(&byReturn, Qt::Key_Return);
  EXPECT_EQ(byReturn.End(), TrustEnd::kAccepted);
  TrustConfirmDialog byEscape(nullptr, loop_, actions_, peer_, 30);
  byEscape.open();
  QTest::keyClick(&byEscape, Qt::Key_Escape);
  EXPECT_EQ(byEscape.End(), TrustEnd::kRefused);
  EXPECT_EQ(actions_.done, (std::vector<std::string>{"refuse bb-friend", "accept bb-friend", "refuse bb-friend",
                                                     "accept bb-friend", "refuse bb-friend"}));
}

TEST_F(TrustDialogsTest, PromptOpensOneConfirmationForAKnownDevice) {
  QWidget window;
  TrustPrompt prompt(context_, &window, actions_);
  core::CBroadcastService::Instance().Broadcast(core::BM_TRUST_REQUEST, TrustInfo("zz-unknown", 30));
  Deliver();
  EXPECT_TRUE(window.findChildren<TrustConfirmDialog*>().isEmpty());

  core::CBroadcastService::Instance().Broadcast(core::BM_TRUST_REQUEST, TrustInfo("cc-stranger", 12));
  Deliver();
  TrustConfirmDialog* dialog = TrustPrompt::OpenDialogFor(&window, "cc-stranger");
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->SecondsLeft(), 12);
  EXPECT_EQ(dialog->Message(), "Device stranger wants to connect to this device. Do you trust it?");
  EXPECT_EQ(prompt.OnRequest(TrustInfo("cc-stranger", 12)), dialog) << "the same question is not asked twice";
  EXPECT_EQ(TrustPrompt::OpenDialogFor(&window, "bb-friend"), nullptr);

  QSignalSpy finished(dialog, &QDialog::finished);
  dialog->AcceptButton()->click();
  EXPECT_EQ(finished.count(), 1);
  EXPECT_EQ(actions_.done, (std::vector<std::string>{"accept cc-stranger"}));
}

}  // namespace
}  // namespace morvex::desktop
