#include "core/OptionNumber.h"

#include <gtest/gtest.h>

#include <utility>

namespace morvex::core {
namespace {

TEST(OptionNumber, ReadsLeadingDigitsWithSign) {
  const std::pair<const char*, int64_t> numbers[] = {
      {"42", 42}, {"  42abc", 42}, {"-5", -5}, {"+7", 7}, {"x1", 0}, {"", 0}, {"65536", 65536}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(ParseOptionNumber(text), value) << text;
}

}  // namespace
}  // namespace morvex::core
