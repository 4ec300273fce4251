// The feedback window, its reminder and the about box.
#include "desktop/FeedbackDialogs.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <memory>
#include <string>
#include <vector>

namespace morvex::desktop {
namespace {

struct Sent {
  std::vector<std::string> calls;
  bool answer = true;
  FeedbackDialog::Upload Upload() {
    return [this](const std::string& rating, const std::string& comment, const std::string& contact) {
      calls.push_back(rating + "|" + comment + "|" + contact);
      return answer;
    };
  }
};

TEST(FeedbackDialogTest, SendsTheShownRatingAndClosesOnlyWhenItWentThrough) {
  QWidget window;
  Sent sent;
  sent.answer = false;
  FeedbackDialog* dialog = OpenFeedback(&window, sent.Upload());
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->Rating(), 0);
  dialog->SetRating(4);
  dialog->Comment()->setText("a b/c");
  dialog->Contact()->setText("me@example.org");
  dialog->Submit();
  EXPECT_EQ(sent.calls, std::vector<std::string>{"Too many bugs, I cannot use it|a b/c|me@example.org"});
  EXPECT_TRUE(dialog->isVisible()) << "closed although nothing was sent";
  EXPECT_NE(dialog->findChild<QMessageBox*>(), nullptr) << "the failure is not said";

  // A second opening while it is open only says so.
  EXPECT_EQ(OpenFeedback(&window, sent.Upload()), nullptr);
  bool alreadyOpenSaid = false;
  for (const QMessageBox* box : window.findChildren<QMessageBox*>()) {
    alreadyOpenSaid |= box->text() == "The feedback window is open already";
  }
  EXPECT_TRUE(alreadyOpenSaid);

  sent.answer = true;
  dialog->Submit();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_FALSE(dialog->isVisible());
}

TEST(FeedbackReminderTest, NowLaterAndNoThanks) {
  QWidget window;
  Sent sent;
  int noThanks = 0;

  FeedbackReminder later(&window, sent.Upload(), [&] { ++noThanks; });
  later.open();
  later.Later();
  EXPECT_FALSE(later.isVisible());
  EXPECT_EQ(noThanks, 0);

  FeedbackReminder declined(&window, sent.Upload(), [&] { ++noThanks; });
  declined.open();
  declined.NoThanks();
  EXPECT_FALSE(declined.isVisible());
  EXPECT_EQ(noThanks, 1);

  FeedbackReminder now(&window, sent.Upload(), [&] { ++noThanks; });
  now.open();
  now.FeedbackNow();
  EXPECT_FALSE(now.isVisible());
  FeedbackDialog* feedback = window.findChild<FeedbackDialog*>();
  ASSERT_NE(feedback, nullptr);
  EXPECT_EQ(now.result(), 0) << "closed before the feedback window";
  feedback->Submit();
  EXPECT_EQ(now.result(), QDialog::Accepted);
  EXPECT_EQ(sent.calls.size(), 1u);
  EXPECT_EQ(noThanks, 1);
}

TEST(AboutDialogTest, ShowsTheVersionAndOnlyTheLinksTheDeploymentNames) {
  const auto texts = [](const AboutDialog& about) {
    std::vector<std::string> all;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
      if (!label->text().isEmpty()) all.push_back(label->text().toStdString());
    }
    return all;
  };
  const AboutDialog bare(nullptr, "0.1.0.0", "", "");
  EXPECT_EQ(texts(bare), std::vector<std::string>{"Morvex\nversion 0.1.0.0"});
  const AboutDialog linked(nullptr, "0.1.0.0", "https://example.org/morvex", "");
  const auto withLink = texts(linked);
  ASSERT_EQ(withLink.size(), 2u);
  EXPECT_NE(withLink[1].find("href=\"https://example.org/morvex\""), std::string::npos) << withLink[1];
}

}  // namespace
}  // namespace morvex::desktop
