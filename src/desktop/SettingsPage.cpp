#include "desktop/SettingsPage.h"

#include <glog/logging.h>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "Morvex.pb.h"
#include "config/KelmConfig.h"
#include "desktop/Autostart.h"
#include "desktop/Strings.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"

namespace morvex::desktop {
namespace {

QString Ui(const char* english) { return QString::fromUtf8(core::Tr(english)); }

QLineEdit* PortEdit(QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), edit));
  edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 12);
  return edit;
}

int PortOf(const QLineEdit* edit) { return edit->text().toInt(); }

}  // namespace

SettingsPage::SettingsPage(const DesktopContext& context, QWidget* parent)
    : QWidget(parent),
      context_(context),
      name_(new QLineEdit(this)),
      password_(new QLineEdit(this)),
      broadcastPort_(PortEdit(this)),
      routePort_(PortEdit(this)),
      pubPort_(PortEdit(this)),
      startAtLogin_(new QCheckBox(Ui(text::kStartAtLogin), this)),
      apply_(new QPushButton(Ui(text::kApply), this)),
      cancel_(new QPushButton(Ui(text::kCancel), this)),
      feedback_(new QPushButton(Ui(text::kSendFeedback), this)) {
  // Names for the tests that drive the page.
  name_->setObjectName(QStringLiteral("name"));
  password_->setObjectName(QStringLiteral("password"));
  broadcastPort_->setObjectName(QStringLiteral("broadcastPort"));
  routePort_->setObjectName(QStringLiteral("routePort"));
  pubPort_->setObjectName(QStringLiteral("pubPort"));
  startAtLogin_->setObjectName(QStringLiteral("startAtLogin"));
  apply_->setObjectName(QStringLiteral("apply"));
  cancel_->setObjectName(QStringLiteral("cancel"));
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);

  auto* note = new QLabel(Ui(text::kPasswordNote), this);
  QFont small = note->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  note->setFont(small);
  note->setWordWrap(true);

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(Ui(text::kDeviceNameLabel), this), 0, 0);
  fields->addWidget(name_, 0, 1);
  fields->addWidget(new QLabel(Ui(text::kPasswordLabel), this), 1, 0);
  fields->addWidget(password_, 1, 1);
  fields->addWidget(note, 2, 1);
  fields->addWidget(new QLabel(Ui(text::kDiscoveryPortLabel), this), 3, 0);
  fields->addWidget(broadcastPort_, 3, 1, Qt::AlignLeft);
  fields->addWidget(new QLabel(Ui(text::kRoutePortLabel), this), 4, 0);
  fields->addWidget(routePort_, 4, 1, Qt::AlignLeft);
  fields->addWidget(new QLabel(Ui(text::kPublishPortLabel), this), 5, 0);
  fields->addWidget(pubPort_, 5, 1, Qt::AlignLeft);
  fields->addWidget(startAtLogin_, 6, 0, 1, 2);
  fields->setColumnStretch(1, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(apply_);
  buttons->addWidget(cancel_);
  buttons->addStretch();
  buttons->addWidget(feedback_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addStretch();
  layout->addLayout(buttons);

  LoadSaved();
  ShowSaved();
  for (QLineEdit* edit : {name_, password_, broadcastPort_, routePort_, pubPort_}) {
    connect(edit, &QLineEdit::textChanged, this, &SettingsPage::UpdateButtons);
  }
  connect(startAtLogin_, &QCheckBox::toggled, this, &SettingsPage::UpdateButtons);
  connect(apply_, &QPushButton::clicked, this, &SettingsPage::Apply);
  connect(cancel_, &QPushButton::clicked, this, &SettingsPage::Cancel);
  // Sending feedback comes later; until then the button says so.
  connect(feedback_, &QPushButton::clicked, this, &SettingsPage::feedbackRequested);
}

void SettingsPage::LoadSaved() {
  // A fresh read of the table rather than the service's copy: the page
  // shows what is stored, whoever stored it.
  config::CKelmConfigManager stored;
  stored.Load();
  const auto values = stored.Snapshot();
  saved_ = {values->deviceName, values->token, values->broadcastPort, values->routePort, values->pubPort};
  ownUuid_ = values->deviceUuid;
  savedStartAtLogin_ = Autostart().Exists();
}

void SettingsPage::ShowSaved() {
  const QSignalBlocker blockers[] = {QSignalBlocker(name_),          QSignalBlocker(password_),
                                     QSignalBlocker(broadcastPort_), QSignalBlocker(routePort_),
                                     QSignalBlocker(pubPort_),       QSignalBlocker(startAtLogin_)};
  name_->setText(QString::fromStdString(saved_.name));
  password_->setText(QString::fromStdString(saved_.password));
  broadcastPort_->setText(QString::number(saved_.broadcastPort));
  routePort_->setText(QString::number(saved_.routePort));
  pubPort_->setText(QString::number(saved_.pubPort));
  startAtLogin_->setChecked(savedStartAtLogin_);
  UpdateButtons();
}

SettingsValues SettingsPage::Edited() const {
  return {name_->text().toStdString(), password_->text().toStdString(), PortOf(broadcastPort_), PortOf(routePort_),
          PortOf(pubPort_)};
}

void SettingsPage::UpdateButtons() {
  const bool modified = IsModified(saved_, Edited()) || startAtLogin_->isChecked() != savedStartAtLogin_;
  apply_->setEnabled(modified);
  cancel_->setEnabled(modified);
}

void SettingsPage::Apply() {
  const SettingsValues edited = Edited();
  const ApplyDecision decision = DecideApply(saved_, edited);
  if (!decision.error.empty()) {
    ShowBox(QMessageBox::Critical, QString::fromStdString(decision.error));
    return;
  }
  if (!decision.changes.empty()) {
    if (!config::StoreSettings(decision.changes, ownUuid_)) LOG(ERROR) << "Settings not stored";
    // Peers learn a new name or address from a datagram: one goes out now,
    // after the router's rebinding, which the store's notice queued first.
    const bool announce = edited.name != saved_.name || edited.routePort != saved_.routePort ||
                          edited.pubPort != saved_.pubPort;
    if (announce) protocol::PushOnce(context_.zmq, protocol::endpoints::kCommand, qo::MC_WIN_ISSUE_DISCOVER);
    saved_ = edited;
  }
  if (startAtLogin_->isChecked() != savedStartAtLogin_) {
    // A failure is logged there; the box keeps what the user chose.
    if (startAtLogin_->isChecked()) {
      Autostart().Create();
    } else {
      Autostart().Remove();
    }
    savedStartAtLogin_ = startAtLogin_->isChecked();
  }
  UpdateButtons();
}

void SettingsPage::Cancel() {
  savedStartAtLogin_ = Autostart().Exists();
  ShowSaved();
}

void SettingsPage::ShowBox(QMessageBox::Icon icon, const QString& message) {
  // No caption of its own: the message says it all.
  auto* box = new QMessageBox(icon, QString(), message, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

}  // namespace morvex::desktop
