#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "core/Runnable.h"

namespace morvex::core {

// Owns one worker thread whose body is Run(). The thread does not exist
// until Resume(): the creator calls it once the object is fully built, so
// the body never runs on a half-constructed object. No constructor starts
// its own thread: the service starts the routers, the routers start their
// workers, tests start what they build.
//
// Threads: Resume, Join and the destructor belong to the owner's thread.
// A subclass must call Join() in its own destructor (the base destructor
// would otherwise wait while the subclass part is already gone). Join waits
// without limit: the owner publishes the exit notice first.
class CWorkThread : public IRunnable {
 public:
  explicit CWorkThread(std::string name) : name_(std::move(name)) {}
  CWorkThread(const CWorkThread&) = delete;
  CWorkThread& operator=(const CWorkThread&) = delete;
  ~CWorkThread() override { Join(); }

  void Resume();
  void Join();
  // True once Run() has returned.
  bool Finished() const { return finished_.load(); }
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
};

}  // namespace morvex::core
