// Asking the user for feedback: the feedback window, the reminder that
// offers it now and then, and the about box.
#pragma once

#include <QButtonGroup>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QString>
#include <functional>
#include <string>

namespace morvex::desktop {

// The feedback window: a rating, a comment and a contact, sent by `upload`
// (true when it went through). Opened with open(): modal to its window
// without blocking the event loop.
class FeedbackDialog final : public QDialog {
  Q_OBJECT

 public:
  using Upload = std::function<bool(const std::string& rating, const std::string& comment, const std::string& contact)>;
  static constexpr int kRatings = 6;

  FeedbackDialog(QWidget* parent, Upload upload);

  int Rating() const;  // 0 to 5, the first selected at the start
  void SetRating(int index);
  QLineEdit* Comment() const { return comment_; }
  QLineEdit* Contact() const { return contact_; }
  // The button: sends, and closes on success; on failure the window stays
  // open with what was typed, and a box says that nothing was sent.
  void Submit();

 private:
  Upload upload_;
  QButtonGroup* ratings_;
  QLineEdit* comment_;
  QLineEdit* contact_;
};

// The rating's text as sent: the shown text of choice `index` (0 to 5).
QString RatingText(int index);

// Opens the feedback window over `parent`, or, when one is open already,
// a box that says so; returns the window opened, if any (deleted when it
// closes).
FeedbackDialog* OpenFeedback(QWidget* parent, const FeedbackDialog::Upload& upload);

// The reminder: "Give feedback now" hides it and opens the feedback window
// (it closes once that window does), "Later" closes it, "No, thanks" calls
// `noThanks` (no more reminders for a longer while) and closes it.
class FeedbackReminder final : public QDialog {
  Q_OBJECT

 public:
  FeedbackReminder(QWidget* parent, FeedbackDialog::Upload upload, std::function<void()> noThanks);

  void FeedbackNow();
  void Later();
  void NoThanks();

 private:
  FeedbackDialog::Upload upload_;
  std::function<void()> noThanks_;
};

// The about box: the product, its version and, where the deployment names
// them, links to its web site and support address.
class AboutDialog final : public QDialog {
  Q_OBJECT

 public:
  AboutDialog(QWidget* parent, const std::string& version, const std::string& website, const std::string& support);
};

}  // namespace morvex::desktop
