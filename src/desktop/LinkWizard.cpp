#include "desktop/LinkWizard.h"

namespace morvex::desktop {

std::optional<LinkWizardResult> RunLinkWizard(const DesktopContext&, QWidget*) { return std::nullopt; }

}  // namespace morvex::desktop
