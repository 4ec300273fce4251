#include "core/Handler.h"

namespace morvex::core {
namespace {

// std::function needs a copyable callable; the shared pointer keeps the
// single owner semantics of the runnable.
platform::MessageLoop::Task AsTask(std::unique_ptr<IRunnable> runnable) {
  return [owned = std::shared_ptr<IRunnable>(std::move(runnable))] { owned->Run(); };
}

}  // namespace

bool CHandler::Post(std::unique_ptr<IRunnable> runnable) {
  if (!runnable) return false;
  return loop_.Post(AsTask(std::move(runnable)));
}

bool CUiHandler::Post(std::unique_ptr<IRunnable> runnable) {
  if (!runnable) return false;
  return loop_.PostTo(window_, AsTask(std::move(runnable)));
}

}  // namespace morvex::core
