#include "core/LogThrottle.h"

namespace morvex::core {

LogThrottle::LogThrottle(std::chrono::steady_clock::duration period, Clock clock)
    : period_(period), clock_(std::move(clock)) {}

std::optional<uint64_t> ThrottleWindow::Occur(std::chrono::steady_clock::time_point now,
                                              std::chrono::steady_clock::duration period) {
  if (lastLine && now - *lastLine < period) {
    ++skipped;
    return std::nullopt;
  }
  lastLine = now;
  const uint64_t left = skipped;
  skipped = 0;
  return left;
}

std::optional<uint64_t> LogThrottle::Occur() {
  const auto now = clock_();
  std::lock_guard lock(mutex_);
  return window_.Occur(now, period_);
}

std::string LogThrottle::Repeated(uint64_t skipped) {
  if (skipped == 0) return {};
  return " (repeated " + std::to_string(skipped) + (skipped == 1 ? " time)" : " times)");
}

}  // namespace morvex::core
