// Desktop notifications of what the user must know about.
#pragma once

#include <QObject>
#include <QString>
#include <QWidget>
#include <functional>

#include "desktop/DesktopContext.h"

namespace morvex::desktop {

// Where no notification service runs, `balloon` (the tray's) shows the text.
class Notifier final : public QObject {
  Q_OBJECT

 public:
  using Balloon = std::function<void(const QString& text)>;
  Notifier(const DesktopContext& context, QWidget* window, Balloon balloon);
  ~Notifier() override;

 private:
  const DesktopContext& context_;
  Balloon balloon_;
};

}  // namespace morvex::desktop
