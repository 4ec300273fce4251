#include "core/MergeSorted.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvex::core {
namespace {

// Each case: both sorted inputs and the walk written as one letter and
// value per step ("a" only in the first, "b" only in the second, "=" both).
TEST(MergeSorted, VisitsEveryElementOnceInOrder) {
  struct Case {
    std::vector<int> a;
    std::vector<int> b;
    std::string walk;
  };
  const Case cases[] = {
      {{}, {}, ""},
      {{1, 2}, {}, "a1 a2 "},
      {{}, {1, 2}, "b1 b2 "},
      {{1, 2, 3}, {1, 2, 3}, "=1 =2 =3 "},
      {{1, 3, 5}, {2, 3, 6}, "a1 b2 =3 a5 b6 "},
      {{4, 5}, {1, 2}, "b1 b2 a4 a5 "},
      {{1, 2}, {4, 5}, "a1 a2 b4 b5 "},
  };
  for (const Case& c : cases) {
    std::string walk;
    MergeSorted(
        c.a, c.b, [](int x, int y) { return x < y ? -1 : x > y ? 1 : 0; },
        [&](int x) { walk += "a" + std::to_string(x) + " "; }, [&](int y) { walk += "b" + std::to_string(y) + " "; },
        [&](int x, int y) {
          EXPECT_EQ(x, y);
          walk += "=" + std::to_string(x) + " ";
        });
    EXPECT_EQ(walk, c.walk);
  }
}

}  // namespace
}  // namespace morvex::core
