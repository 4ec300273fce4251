#pragma once

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

namespace morvex::core {

// The log files of the service: one per local calendar day, appended to by
// every start of that day, kept for kLogKeepDays.
inline constexpr int kLogKeepDays = 14;

// "Morvex-YYYYMMDD.log" for the local day of `when`.
std::string DailyLogFileName(std::time_t when);

// Removes from `dir` the regular files named Morvex*.log (today's kind and
// the older one-per-start kind) last written more than `keepDays` days
// before `now`; nothing else in the folder is touched. Returns the names
// removed. Never throws.
std::vector<std::string> PruneOldLogFiles(const std::string& dir, std::chrono::system_clock::time_point now,
                                          int keepDays = kLogKeepDays);

}  // namespace morvex::core
