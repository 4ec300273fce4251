#include "desktop/TrustPrompt.h"

namespace morvex::desktop {

TrustPrompt::TrustPrompt(const DesktopContext& context, QWidget* window)
    : QObject(window), context_(context), window_(window) {}

TrustPrompt::~TrustPrompt() = default;

}  // namespace morvex::desktop
