#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace morvex::core {

// Keeps a condition that may repeat without end (a stranger's bad input, a
// peer that keeps failing) from flooding the log: its first occurrence is
// logged, later ones at most once per period, each logged line saying how
// many occurrences were left out since the line before.
//
//   static core::LogThrottle throttle;
//   if (const auto skipped = throttle.Occur()) LOG(WARNING) << "..." << core::LogThrottle::Repeated(*skipped);
//
// Occurrences left out after the last logged line are reported with the
// next one only.
//
// Threads: any; the counters are guarded by a mutex.
// The bookkeeping of one throttled condition, shared by LogThrottle and
// RepeatedLog; guarded by its owner.
struct ThrottleWindow {
  std::optional<std::chrono::steady_clock::time_point> lastLine;
  uint64_t skipped = 0;

  // One occurrence at `now`: the number left out since the last line when a
  // line is due, otherwise nothing.
  std::optional<uint64_t> Occur(std::chrono::steady_clock::time_point now, std::chrono::steady_clock::duration period);
};

class LogThrottle {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::seconds kPeriod{60};

  explicit LogThrottle(std::chrono::steady_clock::duration period = kPeriod,
                       Clock clock = [] { return std::chrono::steady_clock::now(); });

  // One occurrence. When a line is due: the number of occurrences left out
  // since the last line; otherwise nothing (log nothing).
  std::optional<uint64_t> Occur();

  // " (repeated N times)" for the occurrences left out; empty for none.
  static std::string Repeated(uint64_t skipped);

 private:
  const std::chrono::steady_clock::duration period_;
  const Clock clock_;

  std::mutex mutex_;
  // Guarded by mutex_.
  ThrottleWindow window_;
};

}  // namespace morvex::core
