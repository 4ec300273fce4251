#pragma once

#include <functional>
#include <thread>

#include "platform/UniqueFd.h"

namespace morvex::platform {

// Turns SIGINT and SIGTERM into a callback on a thread of its own, so that
// the main loop can leave cleanly. BlockTerminationSignals() must run in
// main() before any other thread starts, so that every thread inherits the
// blocked mask and no signal interrupts a worker.
class SignalWatcher {
 public:
  static void BlockTerminationSignals();

  explicit SignalWatcher(std::function<void(int)> onSignal);
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;
  ~SignalWatcher();

 private:
  void Loop();

  std::function<void(int)> onSignal_;
  UniqueFd signals_;
  UniqueFd stop_;  // eventfd that ends the loop
  std::thread thread_;
};

}  // namespace morvex::platform
