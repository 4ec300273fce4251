#pragma once

#include <QWidget>

#include "desktop/DesktopContext.h"

namespace morvex::desktop {

class SettingsPage final : public QWidget {
  Q_OBJECT

 public:
  SettingsPage(const DesktopContext& context, QWidget* parent);

 private:
  const DesktopContext& context_;
};

}  // namespace morvex::desktop
