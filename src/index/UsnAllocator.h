#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace morvex::index {

// Hands out this device's update sequence numbers: strictly increasing,
// never twice, also across restarts. Numbers are reserved in blocks of 50
// in the Usn table before they are handed out, so a restart skips at most
// one block.
//
// Threads: every thread that writes file records takes numbers here;
// mutex_ covers the comparison, the reservation (a database write) and the
// increment.
class CUsnAllocator {
 public:
  static constexpr int64_t kBlock = 50;

  explicit CUsnAllocator(std::string deviceUuid);
  int64_t Next();

  // The process's allocator, installed by the application at start-up
  // before any indexing thread runs (and by tests).
  static void Install(CUsnAllocator* allocator);

 private:
  std::string deviceUuid_;
  std::mutex mutex_;
  int64_t current_ = 0;  // guarded by mutex_
  int64_t limit_ = 0;    // guarded by mutex_
};

// The next USN of the installed allocator.
int64_t GetNextUsn();

}  // namespace morvex::index
