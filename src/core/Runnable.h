#pragma once

#include <atomic>
#include <cstdint>

namespace morvex::core {

// A unit of work handed to another thread. Run() returns 0 on success and
// kErrorNoTarget when it has no target or its target refused.
class IRunnable {
 public:
  virtual ~IRunnable() = default;
  virtual uint32_t Run() = 0;
};

// Long operations poll IsAborted() to stop early; Abort() may come from any
// thread.
class IAbortable {
 public:
  virtual ~IAbortable() = default;
  virtual void Abort() { aborted_.store(true); }
  virtual bool IsAborted() const { return aborted_.load(); }

 private:
  std::atomic<bool> aborted_{false};
};

}  // namespace morvex::core
