#include "desktop/FeedbackDialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <utility>

#include "desktop/Icons.h"
#include "desktop/Strings.h"

namespace morvex::desktop {
namespace {

QString Ui(const char* english) { return QString::fromUtf8(core::Tr(english)); }

constexpr const char* kRatingTexts[FeedbackDialog::kRatings] = {text::kRatingGreat,     text::kRatingGood,
                                                                text::kRatingSoSo,      text::kRatingNeedsWork,
                                                                text::kRatingBuggy,     text::kRatingUseless};

QLabel* Picture(QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setPixmap(Icon(kIconWizardHeader).pixmap(48, 48));
  picture->setAlignment(Qt::AlignTop);
  return picture;
}

}  // namespace

QString RatingText(int index) {
  return index >= 0 && index < FeedbackDialog::kRatings ? Ui(kRatingTexts[index]) : QString();
}

FeedbackDialog::FeedbackDialog(QWidget* parent, Upload upload)
    : QDialog(parent),
      upload_(std::move(upload)),
      ratings_(new QButtonGroup(this)),
      comment_(new QLineEdit(this)),
      contact_(new QLineEdit(this)) {
  setWindowTitle(Ui(text::kFeedbackTitle));
  setObjectName(QStringLiteral("feedback"));
  auto* intro = new QLabel(Ui(text::kFeedbackIntro), this);
  intro->setWordWrap(true);
  auto* signature = new QLabel(Ui(text::kFeedbackSignature), this);
  signature->setAlignment(Qt::AlignRight);
  auto* header = new QHBoxLayout;
  header->addWidget(Picture(this));
  auto* words = new QVBoxLayout;
  words->addWidget(intro);
  words->addWidget(signature);
  header->addLayout(words, 1);

  auto* choices = new QVBoxLayout;
  for (int i = 0; i < kRatings; ++i) {
    auto* choice = new QRadioButton(RatingText(i), this);
    ratings_->addButton(choice, i);
    choices->addWidget(choice);
  }
  SetRating(0);
  comment_->setObjectName(QStringLiteral("comment"));
  contact_->setObjectName(QStringLiteral("contact"));
  auto* send = new QPushButton(Ui(text::kSendFeedback), this);
  send->setObjectName(QStringLiteral("sendFeedback"));
  send->setDefault(true);
  connect(send, &QPushButton::clicked, this, &FeedbackDialog::Submit);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(header);
  layout->addWidget(new QLabel(Ui(text::kFeedbackRate), this));
  layout->addLayout(choices);
  layout->addWidget(new QLabel(Ui(text::kFeedbackComment), this));
  layout->addWidget(comment_);
  layout->addWidget(new QLabel(Ui(text::kFeedbackContact), this));
  layout->addWidget(contact_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(send);
  layout->addLayout(buttons);
  setMinimumWidth(420);
}

int FeedbackDialog::Rating() const { return ratings_->checkedId(); }

void FeedbackDialog::SetRating(int index) {
  if (QAbstractButton* choice = ratings_->button(index)) choice->setChecked(true);
}

void FeedbackDialog::Submit() {
  const bool sent = upload_ && upload_(RatingText(Rating()).toStdString(), comment_->text().toStdString(),
                                       contact_->text().toStdString());
  if (sent) {
    accept();
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), Ui(text::kFeedbackNotSent), QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

FeedbackDialog* OpenFeedback(QWidget* parent, const FeedbackDialog::Upload& upload) {
  QWidget* top = parent ? parent->window() : nullptr;
  if (top && top->findChild<FeedbackDialog*>()) {
    auto* box = new QMessageBox(QMessageBox::Information, Ui(text::kFeedbackTitle), Ui(text::kFeedbackAlreadyOpen),
                                QMessageBox::Ok, top);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return nullptr;
  }
  auto* dialog = new FeedbackDialog(top, upload);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
  return dialog;
}

FeedbackReminder::FeedbackReminder(QWidget* parent, FeedbackDialog::Upload upload, std::function<void()> noThanks)
    : QDialog(parent), upload_(std::move(upload)), noThanks_(std::move(noThanks)) {
  setWindowTitle(Ui(text::kReminderTitle));
  setObjectName(QStringLiteral("feedbackReminder"));
  auto* message = new QLabel(Ui(text::kReminderText), this);
  message->setWordWrap(true);
  auto* body = new QHBoxLayout;
  body->addWidget(Picture(this));
  body->addWidget(message, 1);
  auto* now = new QPushButton(Ui(text::kReminderNow), this);
  auto* later = new QPushButton(Ui(text::kReminderLater), this);
  auto* noThanksButton = new QPushButton(Ui(text::kReminderNoThanks), this);
  now->setDefault(true);
  connect(now, &QPushButton::clicked, this, &FeedbackReminder::FeedbackNow);
  connect(later, &QPushButton::clicked, this, &FeedbackReminder::Later);
  connect(noThanksButton, &QPushButton::clicked, this, &FeedbackReminder::NoThanks);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(now);
  buttons->addWidget(later);
  buttons->addWidget(noThanksButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body);
  layout->addLayout(buttons);
  setMinimumWidth(380);
}

void FeedbackReminder::FeedbackNow() {
  hide();
  FeedbackDialog* feedback = OpenFeedback(parentWidget(), upload_);
  if (!feedback) {
    accept();
    return;
  }
  connect(feedback, &QDialog::finished, this, [this] { accept(); });
}

void FeedbackReminder::Later() { reject(); }

void FeedbackReminder::NoThanks() {
  if (noThanks_) noThanks_();
  reject();
}

AboutDialog::AboutDialog(QWidget* parent, const std::string& version, const std::string& website,
                         const std::string& support)
    : QDialog(parent) {
  setWindowTitle(Ui(text::kAboutTitle));
  setObjectName(QStringLiteral("about"));
  auto* name = new QLabel(QString::fromStdString(Printf(core::Tr(text::kAboutVersion), version.c_str())), this);
  auto* words = new QVBoxLayout;
  words->addWidget(name);
  // Links open in the desktop's browser or mail program.
  const auto addLink = [&](const char* label, const std::string& target) {
    if (target.empty()) return;
    const QString url = QString::fromStdString(target).toHtmlEscaped();
    auto* link = new QLabel(QStringLiteral("%1: <a href=\"%2\">%2</a>").arg(Ui(label), url), this);
    link->setOpenExternalLinks(true);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    words->addWidget(link);
  };
  addLink(text::kAboutWebsite, website);
  addLink(text::kAboutSupport, support);
  auto* body = new QHBoxLayout;
  body->addWidget(Picture(this));
  body->addLayout(words, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body);
  layout->addWidget(buttons);
}

}  // namespace morvex::desktop
