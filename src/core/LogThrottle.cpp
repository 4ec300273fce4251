#include "core/LogThrottle.h"

namespace morvex::core {

LogThrottle::LogThrottle(std::chrono::steady_clock::duration period, Clock clock)
    : period_(period), clock_(std::move(clock)) {}

std::optional<uint64_t> LogThrottle::Occur() {
  const auto now = clock_();
  std::lock_guard lock(mutex_);
  if (lastLine_ && now - *lastLine_ < period_) {
    ++skipped_;
    return std::nullopt;
  }
  lastLine_ = now;
  const uint64_t skipped = skipped_;
  skipped_ = 0;
  return skipped;
}

std::string LogThrottle::Repeated(uint64_t skipped) {
  if (skipped == 0) return {};
  return " (repeated " + std::to_string(skipped) + (skipped == 1 ? " time)" : " times)");
}

}  // namespace morvex::core
