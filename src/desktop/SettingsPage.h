// The main window's settings tab: the device name, the sync password, the
// three ports and starting at log-in.
//
// Runs on the desktop's thread inside the service: Apply writes the Config
// rows (and this device's own Device row) straight through the config
// library, and the service's Config observers do the rest as they do for
// `morvexctl config set` (the router rebinds a moved port, a new password
// empties the device table and is announced).
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "desktop/DesktopContext.h"
#include "desktop/SettingsEdit.h"

namespace morvex::desktop {

class SettingsPage final : public QWidget {
  Q_OBJECT

 public:
  SettingsPage(const DesktopContext& context, QWidget* parent);

  // The buttons, for the main window's tests and its own.
  void Apply();
  void Cancel();

 Q_SIGNALS:
  // "Send feedback": the main window opens the feedback window.
  void feedbackRequested();

 private:
  // Reads the stored values and whether the autostart entry exists.
  void LoadSaved();
  // Puts the saved values into the fields.
  void ShowSaved();
  SettingsValues Edited() const;
  void UpdateButtons();
  // An error or a notice in a box of its own; open(), so nothing blocks.
  void ShowBox(QMessageBox::Icon icon, const QString& message);

  const DesktopContext& context_;
  QLineEdit* name_;
  QLineEdit* password_;
  QLineEdit* broadcastPort_;
  QLineEdit* routePort_;
  QLineEdit* pubPort_;
  QCheckBox* startAtLogin_;
  QPushButton* apply_;
  QPushButton* cancel_;
  QPushButton* feedback_;
  SettingsValues saved_;
  bool savedStartAtLogin_ = false;
  std::string ownUuid_;
};

}  // namespace morvex::desktop
