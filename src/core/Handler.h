#pragma once

#include <memory>

#include "core/Runnable.h"
#include "platform/MessageLoop.h"

namespace morvex::core {

// Hands a runnable to the thread that runs a message loop; the runnable is
// run there and then destroyed. Ownership passes with the post.
class CHandler {
 public:
  explicit CHandler(platform::MessageLoop& loop) : loop_(loop) {}
  virtual ~CHandler() = default;
  // False for a null runnable or a loop that has quit (the runnable is
  // then destroyed unrun).
  virtual bool Post(std::unique_ptr<IRunnable> runnable);

 protected:
  platform::MessageLoop& loop_;
};

// Posts to one window of the loop: work posted to a window that is destroyed
// before its turn is dropped.
class CUiHandler : public CHandler {
 public:
  CUiHandler(platform::MessageLoop& loop, const platform::MessageLoop::Window& window)
      : CHandler(loop), window_(window) {}
  bool Post(std::unique_ptr<IRunnable> runnable) override;

 private:
  const platform::MessageLoop::Window& window_;
};

}  // namespace morvex::core
