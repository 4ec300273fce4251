// Running the service with its desktop interface.
#pragma once

#include <string>

#include "desktop/DesktopContext.h"

namespace morvex::desktop {

// Whether a desktop can be shown: a Qt platform is named in QT_QPA_PLATFORM
// (tests: "offscreen"), or $DISPLAY names an X server that accepts a
// connection. Without one, `morvex` runs headless.
bool DisplayReachable();

// Qt's own texts (the standard buttons' Yes, No, Cancel, the wizard's Back
// and Next) in the language the messages follow; without Debian's
// translations of Qt they stay English. A QApplication must exist.
void LoadQtTexts();

// The question before a newer program is installed (running and offered
// versions), in a box of its own; true for Yes.
bool AskToUpdate(const std::string& running, const std::string& offered);

// The desktop's part of the service's run, between start-up and shutdown:
// shows the tray icon and the main window and runs Qt's event loop, which
// also runs the service's loop, until the loop quits. A QApplication must
// exist (main makes it before start-up, where the setup wizard may run).
void RunDesktop(const DesktopContext& context);

}  // namespace morvex::desktop
