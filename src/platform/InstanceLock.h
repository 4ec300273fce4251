#pragma once

#include <string>

#include "platform/UniqueFd.h"

namespace morvex::platform {

// The per-user single-instance lock: an exclusive flock() on
// "<app dir>/Velkran-AppMutex-<user>". The lock lives in the application
// folder, so two metadirs of one user (or test hosts) run side by side.
// The kernel drops the lock when the process dies, so a crashed service never
// blocks the next start. The descriptor is close-on-exec: a restarted process
// does not inherit it and waits until this one releases it.
class InstanceLock {
 public:
  enum class Result { kAcquired, kAlreadyRunning, kFailed };

  InstanceLock() = default;
  InstanceLock(InstanceLock&&) noexcept = default;
  InstanceLock& operator=(InstanceLock&&) noexcept = default;

  // Takes the lock without waiting.
  Result TryAcquire(const std::string& appDir, const std::string& user);
  // Waits without limit until the current holder releases the lock.
  Result AcquireWaiting(const std::string& appDir, const std::string& user);

  void Release();
  bool Held() const { return fd_.Valid(); }
  const std::string& Path() const { return path_; }
  // errno of the last failed attempt, 0 when none.
  int LastError() const { return error_; }

  static std::string LockName(const std::string& user) { return "Velkran-AppMutex-" + user; }

 private:
  Result Acquire(const std::string& appDir, const std::string& user, bool wait);

  UniqueFd fd_;
  std::string path_;
  int error_ = 0;
};

}  // namespace morvex::platform
