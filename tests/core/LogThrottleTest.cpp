#include "core/LogThrottle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

namespace morvex::core {
namespace {

using namespace std::chrono_literals;

TEST(LogThrottle, FirstOccurrenceLogsThenAtMostOncePerPeriodWithTheCountLeftOut) {
  struct Case {
    std::chrono::seconds at;
    std::optional<uint64_t> expected;  // nothing: left out
  };
  const std::vector<Case> cases = {
      {0s, 0},              // the first time is logged
      {1s, std::nullopt},   // within the minute: left out
      {30s, std::nullopt},  //
      {59s, std::nullopt},  //
      {60s, 3},             // a minute after the last line: logged, 3 left out
      {61s, std::nullopt},  //
      {500s, 1},            // long quiet: the next one is logged at once
      {560s, 0},            // a minute later, nothing left out in between
  };
  std::chrono::steady_clock::time_point now{};
  LogThrottle throttle(60s, [&] { return now; });
  for (const Case& item : cases) {
    now = std::chrono::steady_clock::time_point{} + item.at;
    EXPECT_EQ(throttle.Occur(), item.expected) << "at " << item.at.count() << " s";
  }
}

TEST(LogThrottle, RepeatedNamesTheCountLeftOut) {
  EXPECT_EQ(LogThrottle::Repeated(0), "");
  EXPECT_EQ(LogThrottle::Repeated(1), " (repeated 1 time)");
  EXPECT_EQ(LogThrottle::Repeated(2250000), " (repeated 2250000 times)");
}

}  // namespace
}  // namespace morvex::core
