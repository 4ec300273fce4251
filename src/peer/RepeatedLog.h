#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace morvex::peer {

// Lets one log line per key through per interval and counts the rest, so
// that a stranger repeating a datagram or a request cannot fill the log.
// The next line let through says how many were held back.
//
// Threads: any; the table is guarded by mutex_.
class RepeatedLog {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kInterval = std::chrono::minutes(1);
  // Keys held at most; a flood of distinct keys forgets the quiet ones.
  static constexpr size_t kMaxKeys = 1024;

  // Nothing when the line for `key` is to be held back; otherwise the text
  // to end it with: empty, or how many like it were held back.
  std::optional<std::string> Admit(const std::string& key, Clock::time_point now = Clock::now());

 private:
  struct Entry {
    Clock::time_point last;
    uint64_t held = 0;
  };
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;  // guarded by mutex_
};

}  // namespace morvex::peer
