#pragma once

#include <QWidget>

#include "desktop/DesktopContext.h"

namespace morvex::desktop {

class DevicesPage final : public QWidget {
  Q_OBJECT

 public:
  DevicesPage(const DesktopContext& context, QWidget* parent);

 private:
  const DesktopContext& context_;
};

}  // namespace morvex::desktop
