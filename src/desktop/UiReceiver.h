// Broadcasts for a window, delivered on the window's thread.
#pragma once

#include <QWidget>
#include <any>
#include <functional>
#include <vector>

#include "core/BroadcastService.h"
#include "platform/MessageLoop.h"

namespace morvex::desktop {

// Registered for `codes` while it exists; `onReceive` runs on the window's
// thread, and a broadcast whose turn comes after the window is gone is
// dropped. A member of the window (or of an object the window owns).
class UiReceiver final : public core::CBroadcastReceiver {
 public:
  using Callback = std::function<void(int code, const std::any& parameter)>;
  UiReceiver(platform::MessageLoop& loop, QWidget* window, std::vector<int> codes, Callback onReceive);
  ~UiReceiver() override;

  bool OnReceive(int code, const std::any& parameter) override;

 private:
  std::vector<int> codes_;
  Callback onReceive_;
};

}  // namespace morvex::desktop
