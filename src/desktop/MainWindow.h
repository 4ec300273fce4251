// The main window: the devices, sync folders and settings pages, the
// "Sync now" button, and the tray icon it drives.
#pragma once

#include <QPushButton>
#include <QTabWidget>
#include <QWidget>

#include "desktop/DesktopContext.h"

namespace morvex::desktop {

class MainWindow final : public QWidget {
  Q_OBJECT

 public:
  explicit MainWindow(const DesktopContext& context, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Shows the tray icon and the window.
  void Start();

 private:
  const DesktopContext& context_;
  // Children of this window (Qt owns them).
  QPushButton* syncNow_ = nullptr;
  QTabWidget* tabs_ = nullptr;
};

}  // namespace morvex::desktop
