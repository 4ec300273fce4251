// The status texts of the tray's tooltip, in English.
#include "desktop/StatusText.h"

#include <gtest/gtest.h>

namespace morvex::desktop {
namespace {

TEST(StatusTextTest, SpeedsTakeTheLargestUnitBelow1024) {
  const struct {
    double bytesPerSecond;
    const char* text;
  } cases[] = {
      {0, "0.0B/s"},
      {1023, "1023.0B/s"},
      {1024, "1.0KB/s"},
      {1536, "1.5KB/s"},
      {1024.0 * 1024, "1.0MB/s"},
      {1024.0 * 1024 * 1024 * 2.5, "2.5GB/s"},
      {1024.0 * 1024 * 1024 * 1024 * 3, "3.0TB/s"},
  };
  for (const auto& c : cases) EXPECT_EQ(SpeedText(c.bytesPerSecond), c.text) << c.bytesPerSecond;
}

TEST(StatusTextTest, TimesTakeTwoUnitsUntilThreeDays) {
  const struct {
    uint64_t seconds;
    const char* text;
  } cases[] = {
      {0, "0s"},          {59, "59s"},        {60, "1m 0s"},      {90, "1m 30s"},
      {3599, "59m 59s"},  {3600, "1h 0m"},    {86399, "23h 59m"}, {86400, "1d 0h"},
      {93600, "1d 2h"},   {259199, "2d 23h"}, {259200, "a while, please be patient"},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeText(c.seconds), c.text) << c.seconds;
}

TEST(StatusTextTest, OneLinePerKindOfWork) {
  const struct {
    ActivityCounts counts;
    const char* text;
  } cases[] = {
      {{}, "No task running"},
      {{.indexing = 1}, "Indexing 1 file"},
      {{.passes = 2}, "Running 2 sync tasks"},
      {{.files = 3}, "Syncing 3 files"},
      // All of it received in the last second: no time left to tell.
      {{.files = 1, .bytesLeft = 0, .bytesSinceRefresh = 1536}, "Syncing 1 file at 1.5KB/s"},
      {{.files = 4, .bytesLeft = 1536 * 90, .bytesSinceRefresh = 1536}, "Syncing 4 files, 1.5KB/s, 1m 30s left"},
      {{.passes = 1, .indexing = 5, .files = 2},
       "Indexing 5 files\nRunning 1 sync task\nSyncing 2 files"},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusText(c.counts), c.text);
}

}  // namespace
}  // namespace morvex::desktop
