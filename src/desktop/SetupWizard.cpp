#include "desktop/SetupWizard.h"

#include <unistd.h>

namespace morvex::desktop {

SetupAnswers WizardDefaults(const std::optional<std::string>& name) {
  SetupAnswers answers;
  if (name) {
    answers.name = *name;
  } else {
    char host[256] = {};
    answers.name = gethostname(host, sizeof host - 1) == 0 && host[0] ? host : "Linux";
  }
  return answers;
}

std::optional<SetupAnswers> RunSetupWizard(const SetupAnswers&) { return std::nullopt; }

}  // namespace morvex::desktop
