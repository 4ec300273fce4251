// Asks this device's user about trust requests that arrive from peers.
#pragma once

#include <QObject>
#include <QWidget>

#include "desktop/DesktopContext.h"

namespace morvex::desktop {

// Lives as long as the main window, which it uses as the parent of its
// dialogs.
class TrustPrompt final : public QObject {
  Q_OBJECT

 public:
  TrustPrompt(const DesktopContext& context, QWidget* window);
  ~TrustPrompt() override;

 private:
  const DesktopContext& context_;
  QWidget* window_;
};

}  // namespace morvex::desktop
