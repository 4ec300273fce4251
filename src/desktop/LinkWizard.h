// The link wizard: a new sync folder here, or a local copy of a peer's.
#pragma once

#include <QWidget>
#include <optional>
#include <string>

#include "desktop/DesktopContext.h"

namespace morvex::desktop {

// How the wizard ended with Finish.
struct LinkWizardResult {
  // Set when a local folder was linked to an existing sync folder (the
  // caller then asks for a pass); empty for a new sync folder.
  std::optional<std::string> linkedSyncUuid;
};

// Runs the wizard modally over `parent`; nothing when it was cancelled.
std::optional<LinkWizardResult> RunLinkWizard(const DesktopContext& context, QWidget* parent);

}  // namespace morvex::desktop
