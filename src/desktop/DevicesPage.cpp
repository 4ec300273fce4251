#include "desktop/DevicesPage.h"

namespace morvex::desktop {

DevicesPage::DevicesPage(const DesktopContext& context, QWidget* parent) : QWidget(parent), context_(context) {}

}  // namespace morvex::desktop
