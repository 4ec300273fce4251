// The setup wizard driven page by page, as a user would, without exec().
#include "desktop/SetupWizard.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include "desktop/Autostart.h"
#include "desktop/DesktopTestSupport.h"
#include "desktop/Strings.h"

namespace morvex::desktop {
namespace {

class SetupWizardTest : public ::testing::Test {
 protected:
  SetupWizardTest() : wizard_(WizardDefaults(std::string("box"))) { wizard_.show(); }

  template <typename T>
  T* Child(const char* name) {
    T* child = wizard_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  void Type(const char* field, const QString& text) {
    QLineEdit* edit = Child<QLineEdit>(field);
    edit->clear();
    QTest::keyClicks(edit, text);
  }

  test::TempConfigHome home_;
  SetupWizard wizard_;
};

TEST_F(SetupWizardTest, TypicalSetupSkipsThePortsBothWaysAndKeepsTheDefaultPorts) {
  EXPECT_EQ(wizard_.windowTitle(), QString::fromUtf8(Text(130)));
  EXPECT_EQ(wizard_.currentId(), SetupWizard::kWelcomePage);
  EXPECT_EQ(Child<QLineEdit>("name")->text(), "box");
  EXPECT_TRUE(Child<QRadioButton>("typical")->isChecked());
  wizard_.next();
  ASSERT_EQ(wizard_.currentId(), SetupWizard::kPasswordPage);
  EXPECT_EQ(wizard_.currentPage()->title(), QString::fromUtf8(Text(134)));
  Type("password", "secret");
  wizard_.next();
  ASSERT_EQ(wizard_.currentId(), SetupWizard::kStartAtLoginPage);
  wizard_.back();
  EXPECT_EQ(wizard_.currentId(), SetupWizard::kPasswordPage);
  wizard_.next();
  EXPECT_TRUE(Child<QCheckBox>("startAtLogin")->isChecked());
  EXPECT_FALSE(wizard_.Outcome()) << "not finished yet";
  wizard_.accept();

  const auto answers = wizard_.Outcome();
  ASSERT_TRUE(answers);
  EXPECT_EQ(answers->name, "box");
  EXPECT_EQ(answers->password, "secret");
  EXPECT_EQ(answers->broadcastPort, 8848);
  EXPECT_EQ(answers->routePort, 9527);
  EXPECT_EQ(answers->pubPort, 9526);
  EXPECT_TRUE(answers->startAtLogin);
  EXPECT_TRUE(Autostart().Exists());
}

TEST_F(SetupWizardTest, CustomSetupAsksForThePortsAndAClearedBoxRemovesTheEntry) {
  ASSERT_TRUE(Autostart().Create());
  Child<QRadioButton>("custom")->click();
  wizard_.next();
  Type("password", "secret");
  wizard_.next();
  ASSERT_EQ(wizard_.currentId(), SetupWizard::kPortsPage);
  EXPECT_EQ(Child<QLineEdit>("broadcastPort")->text(), "8848");
  Type("routePort", "80");
  wizard_.next();
  EXPECT_EQ(wizard_.currentId(), SetupWizard::kPortsPage);
  EXPECT_EQ(test::TakeOpenBoxes(wizard_), QStringList{QString::fromUtf8(Text(153))});
  Type("routePort", "40000");
  Type("pubPort", "65535");
  wizard_.next();
  ASSERT_EQ(wizard_.currentId(), SetupWizard::kStartAtLoginPage);
  wizard_.back();
  EXPECT_EQ(wizard_.currentId(), SetupWizard::kPortsPage);
  wizard_.next();
  Child<QCheckBox>("startAtLogin")->click();
  wizard_.accept();

  const auto answers = wizard_.Outcome();
  ASSERT_TRUE(answers);
  EXPECT_EQ(answers->broadcastPort, 8848);
  EXPECT_EQ(answers->routePort, 40000);
  EXPECT_EQ(answers->pubPort, 65535);
  EXPECT_FALSE(answers->startAtLogin);
  EXPECT_FALSE(Autostart().Exists());
}

TEST_F(SetupWizardTest, AnEmptyNameOrPasswordIsRefusedAndNamesStopAtThirtyCharacters) {
  Type("name", "");
  wizard_.next();
  EXPECT_EQ(wizard_.currentId(), SetupWizard::kWelcomePage);
  EXPECT_EQ(test::TakeOpenBoxes(wizard_), QStringList{QString::fromUtf8(Text(133))});
  Type("name", QString(31, QLatin1Char('n')));
  EXPECT_EQ(Child<QLineEdit>("name")->text(), QString(30, QLatin1Char('n')));
  wizard_.next();
  ASSERT_EQ(wizard_.currentId(), SetupWizard::kPasswordPage);
  wizard_.next();
  EXPECT_EQ(wizard_.currentId(), SetupWizard::kPasswordPage);
  EXPECT_EQ(test::TakeOpenBoxes(wizard_), QStringList{QString::fromUtf8(Text(137))});
  Type("password", QString(31, QLatin1Char('p')));
  EXPECT_EQ(Child<QLineEdit>("password")->text().size(), 30);
}

TEST_F(SetupWizardTest, CancelGivesNoAnswersAndLeavesTheAutostartEntryAlone) {
  wizard_.next();
  Type("password", "secret");
  wizard_.next();
  wizard_.reject();
  EXPECT_FALSE(wizard_.Outcome());
  EXPECT_FALSE(Autostart().Exists());
}

}  // namespace
}  // namespace morvex::desktop
