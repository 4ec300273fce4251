// Asks this device's user about trust requests that arrive from peers.
#pragma once

#include <QObject>
#include <QWidget>
#include <any>
#include <memory>
#include <string>

#include "desktop/DesktopContext.h"
#include "desktop/TrustActions.h"
#include "desktop/UiReceiver.h"

namespace morvex::desktop {

class TrustConfirmDialog;

// Opens a confirmation dialog for every trust request of us from a known
// device. Lives as long as the main window, which it uses as the parent of
// its dialogs.
class TrustPrompt final : public QObject {
  Q_OBJECT

 public:
  // The dialogs ask the service itself (LocalTrustClient).
  TrustPrompt(const DesktopContext& context, QWidget* window);
  // The dialogs tell `actions` (not owned) what the user decided.
  TrustPrompt(const DesktopContext& context, QWidget* window, ITrustActions& actions);
  ~TrustPrompt() override;

  // A BM_TRUST_REQUEST: the dialog it opened (deleted when it closes), or
  // null when the request names no known device.
  TrustConfirmDialog* OnRequest(const std::any& parameter);

  // Our acceptance did not get through: the user is told why.
  void OnTrustFailed(const std::string& deviceUuid, TrustFailure failure);

  // The open confirmation dialog for the device under `window`, if any.
  static TrustConfirmDialog* OpenDialogFor(QWidget* window, const std::string& deviceUuid);

 private:
  TrustPrompt(const DesktopContext& context, QWidget* window, std::unique_ptr<ITrustActions> ownActions,
              ITrustActions* actions);

  const DesktopContext& context_;
  QWidget* window_;
  std::unique_ptr<ITrustActions> ownActions_;
  ITrustActions& actions_;
  std::unique_ptr<UiReceiver> receiver_;
};

}  // namespace morvex::desktop
