#include "core/BroadcastService.h"

#include <algorithm>

#include "core/AppError.h"

namespace morvex::core {

uint32_t COnChangeRunable::Run() {
  if (receiver_ == nullptr) return kErrorNoTarget;
  return receiver_->OnReceive(code_, parameter_) ? 0 : kErrorNoTarget;
}

CBroadcastService& CBroadcastService::Instance() {
  static CBroadcastService service;
  return service;
}

void CBroadcastService::Register(int code, CBroadcastReceiver* receiver) {
  std::lock_guard lock(mutex_);
  receivers_[code].push_back(receiver);
}

void CBroadcastService::Unregister(int code, CBroadcastReceiver* receiver) {
  std::lock_guard lock(mutex_);
  auto it = receivers_.find(code);
  if (it == receivers_.end()) return;
  std::erase(it->second, receiver);
  if (it->second.empty()) receivers_.erase(it);
}

void CBroadcastService::Broadcast(int code, std::any parameter) {
  std::lock_guard lock(mutex_);
  auto it = receivers_.find(code);
  if (it == receivers_.end()) return;
  // A copy: a receiver without handler may unregister itself while called.
  const std::vector<CBroadcastReceiver*> targets = it->second;
  for (CBroadcastReceiver* receiver : targets) {
    if (CHandler* handler = receiver->Handler()) {
      handler->Post(std::make_unique<COnChangeRunable>(receiver, code, parameter));
    } else {
      receiver->OnReceive(code, parameter);
    }
  }
}

}  // namespace morvex::core
