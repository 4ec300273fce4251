#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace morvex::platform {

InstanceLock::Result InstanceLock::TryAcquire(const std::string& appDir, const std::string& user) {
  return Acquire(appDir, user, false);
}

InstanceLock::Result InstanceLock::AcquireWaiting(const std::string& appDir, const std::string& user) {
  return Acquire(appDir, user, true);
}

InstanceLock::Result InstanceLock::Acquire(const std::string& appDir, const std::string& user, bool wait) {
  Release();
  path_ = appDir + "/" + LockName(user);
  UniqueFd fd(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.Valid()) {
    error_ = errno;
    return Result::kFailed;
  }
  int rc;
  do {
    rc = ::flock(fd.Get(), LOCK_EX | (wait ? 0 : LOCK_NB));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    error_ = errno;
    return error_ == EWOULDBLOCK ? Result::kAlreadyRunning : Result::kFailed;
  }
  error_ = 0;
  fd_ = std::move(fd);
  return Result::kAcquired;
}

void InstanceLock::Release() {
  if (fd_.Valid()) ::flock(fd_.Get(), LOCK_UN);
  fd_.Reset();
}

}  // namespace morvex::platform
