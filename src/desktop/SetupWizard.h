// The setup wizard of a first start on a desktop.
#pragma once

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

// The wizard's first values: the name given with -n, else the computer's.
SetupAnswers WizardDefaults(const std::optional<std::string>& name);

// Runs the wizard modally; the answers on Finish (the start-at-log-in
// entry already made or removed), nothing when the user cancelled.
std::optional<SetupAnswers> RunSetupWizard(const SetupAnswers& defaults);

}  // namespace morvex::desktop
