#include "desktop/TrustPrompt.h"

#include <glog/logging.h>

#include "Morvex.pb.h"
#include "desktop/TrustDialogs.h"
#include "device/Device.h"

namespace morvex::desktop {

TrustPrompt::TrustPrompt(const DesktopContext& context, QWidget* window)
    : TrustPrompt(context, window, std::make_unique<LocalTrustClient>(context), nullptr) {
  static_cast<LocalTrustClient&>(*ownActions_).OnFailure(
      this, [this](const std::string& deviceUuid, TrustFailure failure) { OnTrustFailed(deviceUuid, failure); });
}

TrustPrompt::TrustPrompt(const DesktopContext& context, QWidget* window, ITrustActions& actions)
    : TrustPrompt(context, window, nullptr, &actions) {}

TrustPrompt::TrustPrompt(const DesktopContext& context, QWidget* window, std::unique_ptr<ITrustActions> ownActions,
                         ITrustActions* actions)
    : QObject(window),
      context_(context),
      window_(window),
      ownActions_(std::move(ownActions)),
      actions_(actions ? *actions : *ownActions_) {
  receiver_ = std::make_unique<UiReceiver>(context_.loop, window_, std::vector<int>{core::BM_TRUST_REQUEST},
                                           [this](int, const std::any& parameter) { OnRequest(parameter); });
}

TrustPrompt::~TrustPrompt() = default;

TrustConfirmDialog* TrustPrompt::OnRequest(const std::any& parameter) {
  const auto* request = std::any_cast<qo::WinTrustInfo>(&parameter);
  if (!request) return nullptr;
  device::CDevice device;
  if (!device.LoadByUuid(request->device_uuid())) {
    LOG(WARNING) << "Inexisting device while handle BM_TRUST_REQUEST:" << request->device_uuid();
    return nullptr;
  }
  // A request repeated while its dialog is open is the same question.
  if (TrustConfirmDialog* open = OpenDialogFor(window_, device.uuid)) return open;
  const int seconds = request->timeout() > 0 ? request->timeout() : TrustWaitingDialog::kSeconds;
  auto* dialog = new TrustConfirmDialog(window_, context_.loop, actions_,
                                        {device.id, device.uuid, device.name, device.type}, seconds);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
  return dialog;
}

void TrustPrompt::OnTrustFailed(const std::string& deviceUuid, TrustFailure failure) {
  TellTrustFailure(window_, deviceUuid, failure);
}

TrustConfirmDialog* TrustPrompt::OpenDialogFor(QWidget* window, const std::string& deviceUuid) {
  for (TrustConfirmDialog* dialog : window->findChildren<TrustConfirmDialog*>()) {
    if (dialog->PeerUuid() == deviceUuid && dialog->End() == TrustEnd::kOpen) return dialog;
  }
  return nullptr;
}

}  // namespace morvex::desktop
