// The setup wizard of a first start on a desktop.
//
// Four pages: the device's name and the kind of setup, the sync password,
// the three ports (custom setup only) and starting at log-in. Finish makes
// or removes the autostart entry as the last page says; nothing else is
// written here: start-up turns the answers into the device's identity.
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QWizard>
#include <cstdint>
#include <optional>
#include <string>

namespace morvex::desktop {

// What the wizard asks for, and what it starts with.
struct SetupAnswers {
  std::string name;
  std::string password;
  uint16_t broadcastPort = 8848;
  uint16_t routePort = 9527;
  uint16_t pubPort = 9526;
  bool startAtLogin = true;
};

// The wizard's first values: the name given with -n, else the computer's
// name; the caller adds what else its command line gave.
SetupAnswers WizardDefaults(const std::optional<std::string>& name);

// Runs the wizard modally; the answers on Finish (the start-at-log-in
// entry already made or removed), nothing when the user cancelled.
std::optional<SetupAnswers> RunSetupWizard(const SetupAnswers& defaults);

// The wizard itself, which tests drive page by page without exec().
class SetupWizard final : public QWizard {
  Q_OBJECT

 public:
  enum PageId : int { kWelcomePage, kPasswordPage, kPortsPage, kStartAtLoginPage };

  explicit SetupWizard(const SetupAnswers& defaults, QWidget* parent = nullptr);

  // The answers once finished; nothing while running or after Cancel.
  std::optional<SetupAnswers> Outcome() const;

  int nextId() const override;
  void accept() override;

 private:
  SetupAnswers Answers() const;

  const SetupAnswers defaults_;
  QLineEdit* name_;
  QRadioButton* typical_;
  QRadioButton* custom_;
  QLineEdit* password_;
  QLineEdit* broadcastPort_;
  QLineEdit* routePort_;
  QLineEdit* pubPort_;
  QCheckBox* startAtLogin_;
};

}  // namespace morvex::desktop
