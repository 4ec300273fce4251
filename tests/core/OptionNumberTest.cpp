#include "core/OptionNumber.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace morvex::core {
namespace {

TEST(OptionNumber, TakesOnlyAWholeDecimalWordWithinItsRange) {
  struct Case {
    const char* word;
    std::optional<int64_t> value;
  };
  const std::vector<Case> cases = {
      {"42", 42},           {"1", 1},          {"65535", 65535},  {"0", std::nullopt},    {"65536", std::nullopt},
      {"  42", std::nullopt}, {"42abc", std::nullopt}, {"-5", std::nullopt}, {"+7", std::nullopt}, {"", std::nullopt},
      {"abc", std::nullopt}, {"99999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(OptionNumber(c.word, 1, 65535), c.value) << c.word;
}

}  // namespace
}  // namespace morvex::core
