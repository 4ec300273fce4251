#include "core/RepeatedLog.h"

#include <gtest/gtest.h>

namespace morvex::core {
namespace {

TEST(RepeatedLog, OneLinePerKeyAndMinuteThenTheCountHeldBack) {
  RepeatedLog log;
  const auto start = RepeatedLog::Clock::now();
  const auto at = [&](int seconds) { return start + std::chrono::seconds(seconds); };
  struct Case {
    const char* key;
    int second;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"decrypt 10.0.0.9", 0, ""},
      {"decrypt 10.0.0.9", 1, std::nullopt},
      {"decrypt 10.0.0.7", 2, ""},  // another key has its own minute
      {"decrypt 10.0.0.9", 59, std::nullopt},
      {"decrypt 10.0.0.9", 60, " (repeated 2 times)"},
      {"decrypt 10.0.0.9", 121, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(log.Admit(c.key, at(c.second)), c.expected) << c.key << " at " << c.second;
}

}  // namespace
}  // namespace morvex::core
