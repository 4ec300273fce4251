// The main window's first page: every device the service knows, with its
// kind, online state and trust, followed live; its context menu offers
// trust to a device or ends it.
#pragma once

#include <QMenu>
#include <QPointer>
#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "desktop/DesktopContext.h"
#include "desktop/TrustActions.h"
#include "desktop/UiObserver.h"
#include "device/DeviceQueries.h"

namespace morvex::desktop {

class TrustWaitingDialog;

class DevicesPage final : public QWidget {
  Q_OBJECT

 public:
  // The page asks the service itself (LocalTrustClient).
  DevicesPage(const DesktopContext& context, QWidget* parent);
  // The page tells `actions` (not owned) what the user decided.
  DevicesPage(const DesktopContext& context, QWidget* parent, ITrustActions& actions);
  ~DevicesPage() override;

  QTreeWidget* List() const { return list_; }
  // Shows the rows, in their order.
  void Fill(const std::vector<device::ListedDevice>& devices);

  // The context menu for the selected row: "Trust" or "End trust" by its
  // trust, disabled on this device's own row; none without a selection or
  // when the row is gone from the table.
  std::unique_ptr<QMenu> MenuForSelection();
  // Offers trust to the device and opens the waiting dialog (deleted when
  // it closes); null when the device is gone.
  TrustWaitingDialog* OfferTrust(int32_t deviceId);
  // Ends the trust with the device once the user confirms.
  void EndTrust(int32_t deviceId);
  // A request about trust with the device did not get through: its waiting
  // dialog closes and the user is told why.
  void OnTrustFailed(const std::string& deviceUuid, TrustFailure failure);

  // How the page asks "End the trust with ...?" (Yes is true); a message
  // box unless a test replaces it.
  using Confirm = std::function<bool(const QString& question)>;
  void SetConfirm(Confirm confirm) { confirm_ = std::move(confirm); }

 private:
  DevicesPage(const DesktopContext& context, QWidget* parent, std::unique_ptr<ITrustActions> ownActions,
              ITrustActions* actions);
  void ShowMenu(const QPoint& position);

  const DesktopContext& context_;
  std::unique_ptr<ITrustActions> ownActions_;
  ITrustActions& actions_;
  Confirm confirm_;
  QTreeWidget* list_ = nullptr;  // a child (Qt owns it)
  std::unique_ptr<UiObserver> observer_;
};

}  // namespace morvex::desktop
