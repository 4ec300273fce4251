#include "core/WorkThread.h"

#include "platform/ThreadName.h"

namespace morvex::core {

void CWorkThread::Resume() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] {
    platform::SetCurrentThreadName(name_);
    Run();
    finished_.store(true);
  });
}

void CWorkThread::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace morvex::core
