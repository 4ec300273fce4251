#pragma once

#include <iterator>

namespace morvex::core {

// Walks two ranges sorted by the same order in step, as a reconcile of
// "what is recorded" against "what is there" needs: every element of `a`
// without an equal in `b` goes to onlyA, every element of `b` without an
// equal in `a` to onlyB, and each equal pair to both(a, b). Elements are
// visited in ascending order. `compare(x, y)` returns <0, 0 or >0 like
// strcmp and must be the order both ranges are sorted by. The handlers get
// the elements as the ranges give them (a mutable range: mutable elements),
// and must not add to or remove from the ranges.
template <typename RangeA, typename RangeB, typename Compare, typename OnlyA, typename OnlyB, typename Both>
void MergeSorted(RangeA&& a, RangeB&& b, Compare compare, OnlyA onlyA, OnlyB onlyB, Both both) {
  auto x = std::begin(a);
  auto y = std::begin(b);
  const auto xEnd = std::end(a);
  const auto yEnd = std::end(b);
  while (x != xEnd || y != yEnd) {
    const int order = x == xEnd ? 1 : y == yEnd ? -1 : compare(*x, *y);
    if (order < 0) {
      onlyA(*x++);
    } else if (order > 0) {
      onlyB(*y++);
    } else {
      both(*x++, *y++);
    }
  }
}

}  // namespace morvex::core
