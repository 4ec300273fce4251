#pragma once

#include "core/Text.h"

namespace morvex::aux::text {

// What the update check tells the user; translated where shown
// (core::Tr). The question takes the running and the offered version.
inline constexpr const char* kUpdateQuestion =
    core::TrNoop("Current version: %s\nLatest version: %s\n\nUpdate to the latest version?");
inline constexpr const char* kUpdateQuestionCaption = core::TrNoop("New version available");
inline constexpr const char* kUpdateDone = core::TrNoop("The update is complete; the program will restart.");
inline constexpr const char* kUpdateNotNeeded = core::TrNoop("The program is already up to date.");
inline constexpr const char* kUpdateFailed =
    core::TrNoop("The automatic update failed. Please download the installer and reinstall, or contact support.");
inline constexpr const char* kUpdateNotWritable = core::TrNoop(
    "This program cannot replace its own file (it was installed by the system's package manager, or its folder is "
    "read-only); update it the way it was installed.");
inline constexpr const char* kUpdateNoSource = core::TrNoop("No update source is configured for this installation.");

}  // namespace morvex::aux::text
