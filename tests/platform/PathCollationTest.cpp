#include "platform/PathCollation.h"

#include <gtest/gtest.h>

namespace morvex::platform {
namespace {

int Sign(int value) { return (value > 0) - (value < 0); }

struct OrderCase {
  const char* a;
  const char* b;
  int exact;
  int folded;
};

TEST(PathCollation, ExactAndFoldedOrders) {
  const OrderCase cases[] = {
      {"a", "a", 0, 0},
      {"a", "b", -1, -1},
      {"B", "a", -1, 1},           // upper case sorts first exactly, folds to b > a
      {"Docs", "docs", -1, 0},
      {"a/b", "a_b", -1, -1},      // '/' (0x2F) before '_' (0x5F)
      {"ab", "a", 1, 1},           // a prefix sorts first
      {"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89", -1, 0},  // Été vs éTÉ
      {"\xCE\xA3", "\xCF\x82", -1, 0},                    // Σ vs final ς
      {"z", "\xC3\xA9", -1, -1},   // code point order: z (U+7A) < é (U+E9)
      {"\xFF", "a", 1, 1},         // an invalid byte sorts after valid text
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(Sign(CompareExact(c.a, c.b)), c.exact);
    EXPECT_EQ(Sign(CompareFolded(c.a, c.b)), c.folded);
    EXPECT_EQ(Sign(CompareFolded(c.b, c.a)), -c.folded);
  }
}

TEST(PathCollation, TruncatedSequencesAreReadByteByByte) {
  size_t pos = 0;
  const std::string text = "\xE2\x82";  // the first two bytes of a three-byte sequence
  EXPECT_EQ(NextCodePoint(text, pos), 0x110000u + 0xE2);
  EXPECT_EQ(pos, 1u);
}

}  // namespace
}  // namespace morvex::platform
