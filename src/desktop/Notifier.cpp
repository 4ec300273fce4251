#include "desktop/Notifier.h"

#include <utility>

namespace morvex::desktop {

Notifier::Notifier(const DesktopContext& context, QWidget* window, Balloon balloon)
    : QObject(window), context_(context), balloon_(std::move(balloon)) {}

Notifier::~Notifier() = default;

}  // namespace morvex::desktop
