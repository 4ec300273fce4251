#include "desktop/SettingsPage.h"

namespace morvex::desktop {

SettingsPage::SettingsPage(const DesktopContext& context, QWidget* parent) : QWidget(parent), context_(context) {}

}  // namespace morvex::desktop
