#include "core/LogFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace morvex::core {
namespace {

using namespace std::chrono_literals;

TEST(LogFiles, OneFilePerLocalDay) {
  std::tm day{};
  day.tm_year = 2026 - 1900;
  day.tm_mon = 0;
  day.tm_mday = 5;
  day.tm_hour = 0;
  day.tm_isdst = -1;
  const std::time_t midnight = std::mktime(&day);
  EXPECT_EQ(DailyLogFileName(midnight), "Morvex-20260105.log");
  EXPECT_EQ(DailyLogFileName(midnight + 23 * 3600 + 3599), "Morvex-20260105.log");
  EXPECT_EQ(DailyLogFileName(midnight + 24 * 3600 + 60), "Morvex-20260106.log");
}

TEST(LogFiles, OnlyLogFilesOlderThanTheKeptDaysAreRemoved) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(::testing::TempDir()) / ("logfiles-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto now = std::chrono::system_clock::now();
  struct Case {
    const char* name;
    std::chrono::hours age;
    bool removed;
  };
  const Case cases[] = {
      {"Morvex-20261101.log", 24h * 15, true},
      {"Morvex-20261126.log", 24h * 14 + 1h, true},
      {"Morvex-20261127.log", 24h * 14 - 1h, false},
      {"Morvex-20261211.log", 0h, false},
      {"Morvex20261101-101010.4242.log", 24h * 30, true},  // the one-per-start kind
      {"Morvex.db", 24h * 30, false},
      {"Morvex-20261101.log.gz", 24h * 30, false},
      {"notes.log", 24h * 30, false},
      {"instance.lock", 24h * 30, false},
  };
  for (const Case& c : cases) {
    std::ofstream(dir / c.name) << "line\n";
    const auto written = now - c.age;
    const std::time_t when = std::chrono::system_clock::to_time_t(written);
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / c.name).c_str(), times, 0), 0);
  }
  // A folder or a link with a log's name is never removed.
  fs::create_directory(dir / "Morvex-20200101.log");
  fs::create_symlink(dir / "Morvex.db", dir / "Morvex-20200102.log");

  std::vector<std::string> removed = PruneOldLogFiles(dir.string(), now);
  std::sort(removed.begin(), removed.end());
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    if (c.removed) expected.emplace_back(c.name);
    EXPECT_EQ(fs::exists(dir / c.name), !c.removed) << c.name;
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(removed, expected);
  EXPECT_TRUE(fs::is_directory(dir / "Morvex-20200101.log"));
  EXPECT_TRUE(fs::is_symlink(dir / "Morvex-20200102.log"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace morvex::core
