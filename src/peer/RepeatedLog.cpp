#include "peer/RepeatedLog.h"

namespace morvex::peer {

std::optional<std::string> RepeatedLog::Admit(const std::string& key, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto found = entries_.find(key);
  if (found != entries_.end()) {
    Entry& entry = found->second;
    if (now - entry.last < kInterval) {
      ++entry.held;
      return std::nullopt;
    }
    const uint64_t held = entry.held;
    entry = {now, 0};
    if (held == 0) return std::string();
    return " (" + std::to_string(held) + " more like it in the last minute)";
  }
  if (entries_.size() >= kMaxKeys) {
    std::erase_if(entries_, [&](const auto& item) { return now - item.second.last >= kInterval; });
    if (entries_.size() >= kMaxKeys) entries_.clear();  // counts lost, the log stays bounded
  }
  entries_.emplace(key, Entry{now, 0});
  return std::string();
}

}  // namespace morvex::peer
