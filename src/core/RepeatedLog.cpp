#include "core/RepeatedLog.h"

namespace morvex::core {

std::optional<std::string> RepeatedLog::Admit(const std::string& key, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (windows_.size() >= kMaxKeys && !windows_.contains(key)) {
    std::erase_if(windows_, [&](const auto& item) { return now - *item.second.lastLine >= LogThrottle::kPeriod; });
    if (windows_.size() >= kMaxKeys) windows_.clear();  // counts lost, the log stays bounded
  }
  const auto left = windows_[key].Occur(now, LogThrottle::kPeriod);
  if (!left) return std::nullopt;
  return LogThrottle::Repeated(*left);
}

}  // namespace morvex::core
