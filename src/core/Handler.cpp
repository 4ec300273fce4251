#include "core/Handler.h"

namespace morvex::core {
namespace {

// std::function needs a copyable callable; the shared pointer keeps the
// single owner semantics of the runnable.
platform::MessageLoop::Task AsTask(std::unique_ptr<IRunnable> runnable) {
  return [owned = std::shared_ptr<IRunnable>(std::move(runnable))] { owned->Run(); };
}

}  // namespace

int CHandler::Post(std::unique_ptr<IRunnable> runnable) {
  if (!runnable) return 0;
  return loop_.Post(AsTask(std::move(runnable))) ? 1 : 0;
}

int CUiHandler::Post(std::unique_ptr<IRunnable> runnable) {
  if (!runnable) return 0;
  return loop_.PostTo(window_, AsTask(std::move(runnable))) ? 1 : 0;
}

}  // namespace morvex::core
