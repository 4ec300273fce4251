#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/LogThrottle.h"

namespace morvex::core {

// LogThrottle for conditions that come with a key (a stranger's address, a
// device): one line per key per period, the next line saying how many were
// left out, so that a stranger repeating a datagram or a request cannot fill
// the log.
//
//   if (const auto more = repeated.Admit("decrypt " + address)) LOG(WARNING) << "..." << *more;
//
// Threads: any; the table is guarded by mutex_.
class RepeatedLog {
 public:
  using Clock = std::chrono::steady_clock;
  // Keys held at most; a flood of distinct keys forgets the quiet ones.
  static constexpr size_t kMaxKeys = 1024;

  // Nothing when the line for `key` is to be left out; otherwise the text to
  // end it with: empty, or LogThrottle::Repeated of the count left out.
  std::optional<std::string> Admit(const std::string& key, Clock::time_point now = Clock::now());

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, ThrottleWindow> windows_;  // guarded by mutex_
};

}  // namespace morvex::core
