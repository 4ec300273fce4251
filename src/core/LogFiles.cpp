#include "core/LogFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace morvex::core {

std::string DailyLogFileName(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char name[32];
  std::strftime(name, sizeof name, "Morvex-%Y%m%d.log", &local);
  return name;
}

std::vector<std::string> PruneOldLogFiles(const std::string& dir, std::chrono::system_clock::time_point now,
                                          int keepDays) {
  namespace fs = std::filesystem;
  const std::time_t limit = std::chrono::system_clock::to_time_t(now - std::chrono::hours(24) * keepDays);
  std::vector<std::string> removed;
  std::error_code error;
  // Never throws: it runs inside the log sink, on any logging thread.
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    const bool logName = name.rfind("Morvex", 0) == 0 && name.size() >= 10 && name.ends_with(".log");
    // lstat: a link is never followed out of the folder, nor removed.
    struct stat info {};
    if (!logName || ::lstat(entry.path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (info.st_mtime >= limit) continue;
    if (::unlink(entry.path().c_str()) == 0) removed.push_back(name);
  }
  return removed;
}

}  // namespace morvex::core
