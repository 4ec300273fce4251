#include "desktop/SetupWizard.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>
#include <QWizardPage>
#include <functional>
#include <utility>

#include "desktop/Autostart.h"
#include "desktop/Icons.h"
#include "desktop/Strings.h"
#include "protocol/Identity.h"

namespace morvex::desktop {
namespace {

constexpr int kMaxTextLength = 30;
constexpr int kFirstPort = 1024;
constexpr int kLastPort = 65535;

QString Ui(const char* english) { return QString::fromUtf8(core::Tr(english)); }

QLabel* Explanation(const char* english, QWidget* parent) {
  auto* label = new QLabel(Ui(english), parent);
  label->setWordWrap(true);
  return label;
}

// Shows `message` with the exclamation icon; open(), so that the wizard's
// own loop (or a test) goes on while it is up.
void Warn(QWidget* parent, const QString& message) {
  auto* box = new QMessageBox(QMessageBox::Warning, Ui(Str(130)), message, QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

// A page whose Next asks `check` first: an empty text is refused, with the
// message it returns.
class CheckedPage final : public QWizardPage {
 public:
  CheckedPage(std::function<QString()> check, QWidget* parent) : QWizardPage(parent), check_(std::move(check)) {}

  bool validatePage() override {
    const QString refusal = check_();
    if (refusal.isEmpty()) return true;
    Warn(this, refusal);
    return false;
  }

 private:
  std::function<QString()> check_;
};

QLineEdit* TextEdit(const char* objectName, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->setMaxLength(kMaxTextLength);
  return edit;
}

QLineEdit* PortEdit(const char* objectName, uint16_t port, QWidget* parent) {
  auto* edit = new QLineEdit(QString::number(port), parent);
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->setValidator(new QIntValidator(kFirstPort, kLastPort, edit));
  return edit;
}

void Entitle(QWizardPage* page, int title, int subTitle) {
  page->setTitle(QString::fromUtf8(Text(title)));
  page->setSubTitle(QString::fromUtf8(Text(subTitle)));
}

}  // namespace

SetupAnswers WizardDefaults(const std::optional<std::string>& name) {
  SetupAnswers answers;
  answers.name = name ? *name : protocol::ComputerName();
  return answers;
}

std::optional<SetupAnswers> RunSetupWizard(const SetupAnswers& defaults) {
  SetupWizard wizard(defaults);
  wizard.exec();
  return wizard.Outcome();
}

SetupWizard::SetupWizard(const SetupAnswers& defaults, QWidget* parent)
    : QWizard(parent),
      defaults_(defaults),
      name_(TextEdit("name", this)),
      typical_(new QRadioButton(Ui(text::kTypicalSetup), this)),
      custom_(new QRadioButton(Ui(text::kCustomSetup), this)),
      password_(TextEdit("password", this)),
      broadcastPort_(PortEdit("broadcastPort", defaults.broadcastPort, this)),
      routePort_(PortEdit("routePort", defaults.routePort, this)),
      pubPort_(PortEdit("pubPort", defaults.pubPort, this)),
      startAtLogin_(new QCheckBox(Ui(text::kStartAtLogin), this)) {
  setWindowTitle(QString::fromUtf8(Text(130)));
  setWizardStyle(QWizard::ModernStyle);
  setPixmap(QWizard::LogoPixmap, Icon(kIconWizardHeader).pixmap(49, 49));
  setOption(QWizard::NoBackButtonOnStartPage);

  // Welcome: the name and the kind of setup.
  auto* welcome = new CheckedPage(
      [this] { return name_->text().isEmpty() ? QString::fromUtf8(Text(133)) : QString(); }, this);
  Entitle(welcome, 131, 132);
  name_->setText(QString::fromStdString(defaults.name));
  password_->setText(QString::fromStdString(defaults.password));
  typical_->setObjectName(QStringLiteral("typical"));
  custom_->setObjectName(QStringLiteral("custom"));
  typical_->setChecked(true);
  auto* kind = new QGroupBox(Ui(text::kSetupKind), welcome);
  auto* kindLayout = new QVBoxLayout(kind);
  kindLayout->addWidget(typical_);
  kindLayout->addWidget(custom_);
  auto* kinds = new QButtonGroup(kind);
  kinds->addButton(typical_);
  kinds->addButton(custom_);
  auto* nameForm = new QFormLayout;
  nameForm->addRow(Ui(text::kWizardNameLabel), name_);
  auto* welcomeLayout = new QVBoxLayout(welcome);
  welcomeLayout->addLayout(nameForm);
  welcomeLayout->addWidget(Explanation(text::kNameExplained, welcome));
  welcomeLayout->addWidget(kind);
  welcomeLayout->addStretch();
  setPage(kWelcomePage, welcome);

  // The sync password.
  auto* secret = new CheckedPage(
      [this] { return password_->text().isEmpty() ? QString::fromUtf8(Text(137)) : QString(); }, this);
  Entitle(secret, 134, 135);
  auto* passwordForm = new QFormLayout;
  passwordForm->addRow(Ui(text::kPasswordLabel), password_);
  auto* secretLayout = new QVBoxLayout(secret);
  secretLayout->addLayout(passwordForm);
  secretLayout->addWidget(Explanation(text::kPasswordExplained, secret));
  secretLayout->addWidget(Explanation(text::kPasswordWarning, secret));
  secretLayout->addStretch();
  setPage(kPasswordPage, secret);

  // The ports, in a custom setup only.
  auto* ports = new CheckedPage(
      [this]() -> QString {
        for (const QLineEdit* edit : {broadcastPort_, routePort_, pubPort_}) {
          if (!edit->hasAcceptableInput()) return QString::fromUtf8(Text(153));
        }
        // The service could not bind two of its ports to one number.
        const int broadcast = broadcastPort_->text().toInt();
        const int route = routePort_->text().toInt();
        const int pub = pubPort_->text().toInt();
        if (broadcast == route || broadcast == pub || route == pub) return QString::fromUtf8(Text(143));
        return {};
      },
      this);
  Entitle(ports, 131, 132);
  auto* portForm = new QFormLayout;
  portForm->addRow(Ui(text::kDiscoveryPortLabel), broadcastPort_);
  portForm->addRow(Ui(text::kRoutePortLabel), routePort_);
  portForm->addRow(Ui(text::kPublishPortLabel), pubPort_);
  auto* portsLayout = new QVBoxLayout(ports);
  portsLayout->addLayout(portForm);
  portsLayout->addWidget(Explanation(text::kPortsExplained, ports));
  portsLayout->addStretch();
  setPage(kPortsPage, ports);

  // Starting at log-in.
  auto* login = new QWizardPage(this);
  Entitle(login, 172, 173);
  startAtLogin_->setObjectName(QStringLiteral("startAtLogin"));
  startAtLogin_->setChecked(defaults.startAtLogin);
  auto* loginLayout = new QVBoxLayout(login);
  loginLayout->addWidget(startAtLogin_);
  loginLayout->addWidget(Explanation(text::kStartAtLoginExplained, login));
  loginLayout->addStretch();
  setPage(kStartAtLoginPage, login);

  setStartId(kWelcomePage);
}

int SetupWizard::nextId() const {
  switch (currentId()) {
    case kWelcomePage: return kPasswordPage;
    case kPasswordPage: return custom_->isChecked() ? kPortsPage : kStartAtLoginPage;
    case kPortsPage: return kStartAtLoginPage;
    default: return -1;
  }
}

void SetupWizard::accept() {
  // The entry is a convenience: its failure is logged and Finish goes on.
  const Autostart autostart;
  if (startAtLogin_->isChecked() && !autostart.Exists()) {
    autostart.Create();
  } else if (!startAtLogin_->isChecked() && autostart.Exists()) {
    autostart.Remove();
  }
  QWizard::accept();
}

std::optional<SetupAnswers> SetupWizard::Outcome() const {
  if (result() != QDialog::Accepted) return std::nullopt;
  return Answers();
}

SetupAnswers SetupWizard::Answers() const {
  SetupAnswers answers = defaults_;
  answers.name = name_->text().toStdString();
  answers.password = password_->text().toStdString();
  // A typical setup keeps the default ports, whatever the ports page holds.
  if (custom_->isChecked()) {
    answers.broadcastPort = static_cast<uint16_t>(broadcastPort_->text().toInt());
    answers.routePort = static_cast<uint16_t>(routePort_->text().toInt());
    answers.pubPort = static_cast<uint16_t>(pubPort_->text().toInt());
  }
  answers.startAtLogin = startAtLogin_->isChecked();
  return answers;
}

}  // namespace morvex::desktop
