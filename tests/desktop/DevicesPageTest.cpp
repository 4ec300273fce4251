// The devices page: its rows, their pictures, following the Device table,
// and the context menu's trust actions.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <optional>

#include "desktop/DeviceIcons.h"
#include "desktop/DevicesPage.h"
#include "desktop/DesktopFixture.h"
#include "Morvex.pb.h"
#include "desktop/Icons.h"
#include "desktop/TrustActions.h"
#include "desktop/TrustDialogs.h"
#include "device/Device.h"
#include "device/DeviceQueries.h"

namespace morvex::desktop {
namespace {

TEST(DeviceIconsTest, IndexByTrustOnlineAndKind) {
  struct Case {
    bool trusted;
    bool online;
    int type;
    int index;
    int resource;
  };
  const Case cases[] = {
      {false, true, 0, 8, 145},   {false, false, 0, 9, 146},  {true, true, 0, 18, 176},  {true, false, 0, 19, 177},
      {false, true, 1, 4, 141},   {false, false, 1, 5, 142},  {true, true, 1, 14, 172},  {true, false, 1, 15, 173},
      {false, true, 2, 6, 143},   {false, false, 2, 7, 144},  {true, true, 2, 16, 174},  {true, false, 2, 17, 175},
      {false, true, 3, 0, 137},   {false, false, 3, 1, 138},  {true, true, 3, 10, 168},  {true, false, 3, 11, 169},
      {false, true, 4, 0, 137},   {true, false, 4, 11, 169},  {false, true, 5, 0, 137},  {true, true, 5, 10, 168},
      {false, true, 6, 5, 142},   {true, false, 6, 5, 142},   {true, true, -1, 5, 142},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.trusted << c.online << " type " << c.type);
    EXPECT_EQ(DeviceIconIndex(c.trusted, c.online, c.type), c.index);
    EXPECT_EQ(DeviceListIcon(c.index), c.resource);
  }
  EXPECT_EQ(DeviceListIcon(20), 147);
  EXPECT_EQ(DeviceListIcon(21), 160);
  EXPECT_EQ(DeviceListIcon(25), 189);
  EXPECT_EQ(DeviceListIcon(26), 0);
  EXPECT_EQ(TrustMarkIcon(true), 160);
  EXPECT_EQ(TrustMarkIcon(false), 162);
  const int kinds[][2] = {{0, 145}, {1, 141}, {2, 143}, {3, 137}, {4, 139}, {5, 139}, {9, 146}};
  for (const auto& [type, resource] : kinds) EXPECT_EQ(DeviceKindIcon(type), resource) << type;
}

class DevicesPageTest : public DesktopFixture {
 protected:
  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    for (int i = 0; i < page_->List()->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = page_->List()->topLevelItem(i);
      rows.push_back(item->text(0).toStdString() + "|" + item->text(1).toStdString() + "|" +
                     (item->icon(2).isNull() ? "-" : "mark"));
    }
    return rows;
  }
  void Select(const std::string& name) {
    const auto found = page_->List()->findItems(QString::fromStdString(name), Qt::MatchExactly, 0);
    ASSERT_EQ(found.size(), 1);
    page_->List()->setCurrentItem(found.front());
  }
  // The menu's one item as "text" or "text (disabled)"; "none" without a menu.
  std::string MenuItem() {
    const std::unique_ptr<QMenu> menu = page_->MenuForSelection();
    if (!menu) return "none";
    EXPECT_EQ(menu->actions().size(), 1);
    const QAction* action = menu->actions().front();
    return action->text().toStdString() + (action->isEnabled() ? "" : " (disabled)");
  }

  void SetUp() override {
    DesktopFixture::SetUp();
    page_ = std::make_unique<DevicesPage>(context_, nullptr, actions_);
  }
  std::unique_ptr<DevicesPage> page_;
};

TEST_F(DevicesPageTest, ListsOnlineThenTrustedAndFollowsTheTable) {
  EXPECT_EQ(page_->List()->headerItem()->text(0), "Device name");
  EXPECT_EQ(page_->List()->headerItem()->text(1), "Address");
  EXPECT_EQ(page_->List()->headerItem()->text(2), "Trusted");
  EXPECT_EQ(Rows(), (std::vector<std::string>{"own|tcp://10.0.0.1:9527|mark", "stranger|tcp://10.0.0.3:9527|-",
                                              "friend|tcp://10.0.0.2:9527|mark"}));

  device::CDevice friendDevice;
  ASSERT_TRUE(friendDevice.LoadByUuid("bb-friend"));
  ASSERT_TRUE(friendDevice.SetUntrusted());
  EXPECT_EQ(Rows().back(), "friend|tcp://10.0.0.2:9527|mark") << "filled before its turn on the page's thread";
  Deliver();
  EXPECT_EQ(Rows().back(), "friend|tcp://10.0.0.2:9527|-");

  // Once the page is gone, a change finds no observer and nothing to fill.
  page_.reset();
  ASSERT_TRUE(friendDevice.SetTrusted());
  Deliver();
}

TEST_F(DevicesPageTest, MenuByTrustDisabledOnTheOwnRowAndNoneForAGoneRow) {
  EXPECT_EQ(MenuItem(), "none");
  Select("own");
  EXPECT_EQ(MenuItem(), "End trust (disabled)");
  Select("friend");
  EXPECT_EQ(MenuItem(), "End trust");
  Select("stranger");
  EXPECT_EQ(MenuItem(), "Trust");

  const std::unique_ptr<QMenu> menu = page_->MenuForSelection();
  menu->actions().front()->trigger();
  EXPECT_EQ(actions_.done, (std::vector<std::string>{"offer cc-stranger 30"}));
  auto* waiting = page_->findChild<TrustWaitingDialog*>();
  ASSERT_NE(waiting, nullptr);
  EXPECT_TRUE(waiting->isVisible());
  EXPECT_EQ(waiting->Message(), "Waiting for stranger to accept...");

  ASSERT_TRUE(device::DeleteDevice("cc-stranger"));
  EXPECT_EQ(MenuItem(), "none") << "the row is still listed until the change is delivered";
}

TEST_F(DevicesPageTest, EndTrustAsksFirst) {
  std::vector<std::string> questions;
  bool answer = false;
  page_->SetConfirm([&](const QString& question) {
    questions.push_back(question.toStdString());
    return answer;
  });
  page_->EndTrust(IdOf("bb-friend"));
  EXPECT_TRUE(actions_.done.empty());
  answer = true;
  page_->EndTrust(IdOf("bb-friend"));
  page_->EndTrust(9999);
  EXPECT_EQ(questions, (std::vector<std::string>(2, "End the trust with \"friend\"?")));
  EXPECT_EQ(actions_.done, (std::vector<std::string>{"end bb-friend"}));
}

// A request that does not get through is said, not left to a countdown.
TEST_F(DevicesPageTest, AFailedOfferClosesItsWaitingDialogAndSaysWhy) {
  TrustWaitingDialog* waiting = page_->OfferTrust(IdOf("cc-stranger"));
  ASSERT_NE(waiting, nullptr);
  TrustEnd ended = TrustEnd::kOpen;
  QObject::connect(waiting, &QDialog::finished, [&ended, waiting] { ended = waiting->End(); });
  page_->OnTrustFailed("cc-stranger", TrustFailure::kPeerUnreachable);
  EXPECT_EQ(ended, TrustEnd::kRefused);
  EXPECT_EQ(actions_.done, (std::vector<std::string>{"offer cc-stranger 30"})) << "nothing more is sent";
  auto* box = page_->findChild<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->text().toStdString(),
            "stranger did not answer: check that it is on, on the network and running Morvex, then try again");
}

TEST(TrustAnswerTest, EveryAnswerThatIsNotAYesIsAFailureOfItsKind) {
  const int accept = qo::MC_LINUX_TRUST_REQUEST;
  const int offer = qo::MC_LINUX_TRUST_PUBLISH_REQUEST;
  const struct {
    int code;
    bool answered;
    std::optional<int> refusal;
    bool accepted;
    std::optional<TrustFailure> failure;
  } cases[] = {
      {offer, true, std::nullopt, false, std::nullopt},
      {offer, false, std::nullopt, false, TrustFailure::kServiceSilent},
      {offer, true, qo::ZE_OPERATE_TIMEOUT, false, TrustFailure::kPeerUnreachable},
      {offer, true, qo::ZE_NOENT, false, TrustFailure::kRefused},
      {accept, true, std::nullopt, true, std::nullopt},
      {accept, true, std::nullopt, false, TrustFailure::kRefused},
      {accept, true, qo::ZE_PEER_ERROR, false, TrustFailure::kRefused},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyTrustAnswer(c.code, c.answered, c.refusal, c.accepted), c.failure)
        << c.code << " " << c.answered << " " << c.refusal.value_or(0);
  }
  EXPECT_EQ(TrustFailureText(TrustFailure::kRefused, "den"),
            "den refused the request: the Morvex service's log on that device says why");
}

}  // namespace
}  // namespace morvex::desktop
