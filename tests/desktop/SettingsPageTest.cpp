// The settings tab: the rules of Apply from a table, and the page itself
// writing a real database.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <vector>

#include "Morvex.pb.h"
#include "config/ConfigKeys.h"
#include "config/KelmConfig.h"
#include "desktop/Autostart.h"
#include "desktop/DesktopTestSupport.h"
#include "desktop/SettingsEdit.h"
#include "desktop/SettingsPage.h"
#include "desktop/Strings.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/QoMsg.h"
#include "store/StoreFixture.h"

namespace morvex::desktop {
namespace {

using config::Setting;
using config::SettingChange;

TEST(SettingsEditTest, ApplyRefusesOrWritesAsTheRulesSay) {
  const SettingsValues saved{"box", "pw", 8848, 9527, 9526};
  const auto with = [&saved](auto change) {
    SettingsValues edited = saved;
    change(edited);
    return edited;
  };
  const std::vector<SettingChange> nameAndPassword = {{Setting::kName, "box"}, {Setting::kPassword, "pw"}};
  const auto plus = [&](std::vector<SettingChange> more) {
    std::vector<SettingChange> all = nameAndPassword;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const struct {
    const char* what;
    SettingsValues edited;
    std::string error;
    std::vector<SettingChange> changes;
  } cases[] = {
      {"nothing edited", saved, "", {}},
      {"route and publish both 9527", with([](auto& v) { v.pubPort = 9527; }), Text(143), {}},
      {"discovery equal to publish", with([](auto& v) { v.broadcastPort = 9526; }), Text(143), {}},
      {"discovery port 80", with([](auto& v) { v.broadcastPort = 80; }), Text(153), {}},
      {"route port 65536", with([](auto& v) { v.routePort = 65536; }), Text(153), {}},
      {"empty publish field", with([](auto& v) { v.pubPort = 0; }), Text(153), {}},
      {"discovery port 1024", with([](auto& v) { v.broadcastPort = 1024; }), "",
       plus({{Setting::kBroadcastPort, "1024"}})},
      {"route port 65535", with([](auto& v) { v.routePort = 65535; }), "", plus({{Setting::kPort, "65535"}})},
      {"only the name", with([](auto& v) { v.name = "Kitchen"; }), "",
       {{Setting::kName, "Kitchen"}, {Setting::kPassword, "pw"}}},
      {"only the password", with([](auto& v) { v.password = "new"; }), "",
       {{Setting::kName, "box"}, {Setting::kPassword, "new"}}},
      {"publish port moved", with([](auto& v) { v.pubPort = 9600; }), "", plus({{Setting::kPublishPort, "9600"}})},
      {"empty name", with([](auto& v) { v.name.clear(); }), Text(133), {}},
      {"empty password", with([](auto& v) { v.password.clear(); }), Text(137), {}},
  };
  for (const auto& c : cases) {
    const ApplyDecision decision = DecideApply(saved, c.edited);
    EXPECT_EQ(decision.error, c.error) << c.what;
    EXPECT_EQ(decision.changes, c.changes) << c.what;
    EXPECT_EQ(IsModified(saved, c.edited), c.edited != saved) << c.what;
  }
}

class FakeKeys final : public protocol::IKeyManager {
 public:
  std::string GetPrivateKey() override { return {}; }
  std::string GetPublicKey(const std::string&, bool) override { return {}; }
};

class SettingsPageTest : public store::StoreFixture {
 protected:
  static constexpr const char* kOwn = "0d7c8a3e-1b2c-4d5e-8f60-123456789abc";

  void SetUp() override {
    store::StoreFixture::SetUp();
    config::CKelmConfigManager stored;
    stored.SetDeviceName("box");
    stored.SetDeviceUuid(kOwn);
    stored.SetToken("pw");
    ASSERT_TRUE(stored.Save());
    ASSERT_TRUE(Db().Exec("INSERT INTO Device (uuid, name, route_uri, pub_uri, trust) VALUES "
                          "('0d7c8a3e-1b2c-4d5e-8f60-123456789abc', 'box', 'tcp://localhost:9527', "
                          "'tcp://localhost:9526', 1)"));
    ASSERT_TRUE(commands_.Bind(protocol::endpoints::kCommand));
    page_ = std::make_unique<SettingsPage>(context_, nullptr);
    page_->show();
  }
  void TearDown() override {
    page_.reset();
    store::StoreFixture::TearDown();
  }

  template <typename T>
  T* Child(const char* name) {
    T* child = page_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  void Type(const char* field, const QString& text) {
    QLineEdit* edit = Child<QLineEdit>(field);
    edit->clear();
    QTest::keyClicks(edit, text);
  }
  bool ApplyEnabled() { return Child<QPushButton>("apply")->isEnabled(); }
  std::string Stored(const char* key) {
    return Resolver().QueryStringDup(store::uris::Config(), "value", store::CSelection("name = ? ").AddString(key))
        .value_or("-");
  }
  std::string Own(const char* column) {
    return Resolver()
        .QueryStringDup(store::uris::Device(), column, store::CSelection("uuid = ? ").AddString(kOwn))
        .value_or("-");
  }

  test::TempConfigHome home_;
  platform::MessageLoop loop_;
  config::CKelmConfigManager config_;
  FakeKeys keys_;
  protocol::ZmqContext zmq_;
  protocol::ZmqSocket commands_{zmq_, ZMQ_PULL};
  DesktopContext context_{loop_, config_, keys_, zmq_, [] { return false; }, ""};
  std::unique_ptr<SettingsPage> page_;
};

TEST_F(SettingsPageTest, ApplyWritesTheChangedRowsTheOwnAddressAndTheAutostartEntry) {
  EXPECT_EQ(Child<QLineEdit>("name")->text(), "box");
  EXPECT_EQ(Child<QLineEdit>("routePort")->text(), "9527");
  EXPECT_FALSE(ApplyEnabled());
  Type("routePort", "40000");
  EXPECT_TRUE(ApplyEnabled());
  Type("routePort", "9527");
  EXPECT_FALSE(ApplyEnabled()) << "restored by hand";
  Type("routePort", "4x0000");  // the letter is not taken
  EXPECT_EQ(Child<QLineEdit>("routePort")->text(), "40000");
  Type("name", "Kitchen");
  Child<QCheckBox>("startAtLogin")->click();
  Child<QPushButton>("apply")->click();

  EXPECT_EQ(Stored(config::keys::kDeviceName), "Kitchen");
  EXPECT_EQ(Stored(config::keys::kToken), "pw");
  EXPECT_EQ(Stored(config::keys::kRoutePort), "40000");
  EXPECT_EQ(Stored(config::keys::kPubPort), "9526");
  EXPECT_EQ(Own("route_uri"), "tcp://localhost:40000");
  EXPECT_EQ(Own("pub_uri"), "tcp://localhost:9526");
  EXPECT_TRUE(Autostart().Exists());
  EXPECT_FALSE(ApplyEnabled());
  protocol::CQoMsg discover;
  ASSERT_TRUE(discover.Recv(commands_, false, 1000));
  EXPECT_EQ(discover.Code(), qo::MC_WIN_ISSUE_DISCOVER);

  // Clearing the box alone is a change, and removes the entry.
  Child<QCheckBox>("startAtLogin")->click();
  EXPECT_TRUE(ApplyEnabled());
  Child<QPushButton>("apply")->click();
  EXPECT_FALSE(Autostart().Exists());
}

TEST_F(SettingsPageTest, ARefusedApplyWritesNothingAndCancelShowsWhatIsStored) {
  Type("pubPort", "9527");
  Child<QPushButton>("apply")->click();
  EXPECT_EQ(test::TakeOpenBoxes(*page_), QStringList{QString::fromUtf8(Text(143))});
  EXPECT_EQ(Stored(config::keys::kPubPort), "9526");
  EXPECT_TRUE(ApplyEnabled());

  // The entry appears meanwhile (made by hand): Cancel finds it.
  ASSERT_TRUE(Autostart().Create());
  Child<QPushButton>("cancel")->click();
  EXPECT_EQ(Child<QLineEdit>("pubPort")->text(), "9526");
  EXPECT_TRUE(Child<QCheckBox>("startAtLogin")->isChecked());
  EXPECT_FALSE(ApplyEnabled());
  EXPECT_FALSE(Child<QPushButton>("cancel")->isEnabled());
}

}  // namespace
}  // namespace morvex::desktop
