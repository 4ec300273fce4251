#include "desktop/UiReceiver.h"

#include <memory>
#include <utility>

#include "desktop/UiHandler.h"

namespace morvex::desktop {

UiReceiver::UiReceiver(platform::MessageLoop& loop, QWidget* window, std::vector<int> codes, Callback onReceive)
    : core::CBroadcastReceiver(std::make_unique<CUiHandler>(loop, window)),
      codes_(std::move(codes)),
      onReceive_(std::move(onReceive)) {
  for (int code : codes_) core::CBroadcastService::Instance().Register(code, this);
}

UiReceiver::~UiReceiver() {
  for (int code : codes_) core::CBroadcastService::Instance().Unregister(code, this);
}

bool UiReceiver::OnReceive(int code, const std::any& parameter) {
  onReceive_(code, parameter);
  return true;
}

}  // namespace morvex::desktop
