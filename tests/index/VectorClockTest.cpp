#include "index/VectorClock.h"

#include <gtest/gtest.h>

#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Morvex.pb.h"
#include "store/StoreFixture.h"

namespace morvex::index {
namespace {

using Counters = std::vector<int32_t>;

Counters Components(const IVectorClock& clock) { return Counters(clock.Data().begin(), clock.Data().end()); }

ClockOrder Mirror(ClockOrder order) {
  if (order == VC_LESS) return VC_GREATER;
  if (order == VC_GREATER) return VC_LESS;
  return order;
}

TEST(VectorClock, CompareIsThePartialOrderWithMissingComponentsZero) {
  struct Case {
    Counters a;
    Counters b;
    ClockOrder expected;
  };
  const Case cases[] = {
      {{}, {}, VC_EQUAL},
      {{0, 0, 0}, {}, VC_EQUAL},
      {{1}, {1, 0}, VC_EQUAL},
      {{2, 1}, {1, 2}, VC_CONFLICT},
      {{1, 2}, {1, 3}, VC_LESS},
      {{1, 3, 1}, {1, 3}, VC_GREATER},
      {{1}, {1, 0, 4}, VC_LESS},
      {{2}, {1, 0, 4}, VC_CONFLICT},
      {{0, 5}, {1}, VC_CONFLICT},
  };
  for (const Case& c : cases) {
    const CVectorClock a(c.a);
    const CVectorClock b(c.b);
    EXPECT_EQ(Compare(a, b), c.expected) << ::testing::PrintToString(c.a) << " vs " << ::testing::PrintToString(c.b);
    EXPECT_EQ(Compare(b, a), Mirror(c.expected))
        << ::testing::PrintToString(c.b) << " vs " << ::testing::PrintToString(c.a);
  }
}

TEST(VectorClock, MergeTakesTheComponentWiseMaximum) {
  struct Case {
    Counters into;
    Counters other;
    Counters expected;
  };
  const Case cases[] = {
      {{1, 5}, {3, 2, 7}, {3, 5, 7}},
      {{4, 4, 4}, {5}, {5, 4, 4}},
      {{}, {0, 2}, {0, 2}},
  };
  for (const Case& c : cases) {
    CVectorClock clock(c.into);
    clock.Merge(CVectorClock(c.other));
    EXPECT_EQ(Components(clock), c.expected) << ::testing::PrintToString(c.into) << " + "
                                             << ::testing::PrintToString(c.other);
    EXPECT_NE(Compare(clock, CVectorClock(c.other)), VC_LESS);
  }
}

TEST(VectorClock, IncrementBeyondTheLengthGrowsWithZeros) {
  CVectorClock clock(Counters{7});
  clock.Increment(3);
  EXPECT_EQ(Components(clock), (Counters{7, 0, 0, 1}));
  EXPECT_EQ(clock.At(4), 0);
  EXPECT_EQ(clock.At(-1), 0);

  CVectorClock fresh;
  fresh.Increment(0);
  EXPECT_EQ(Components(fresh), Counters{1});
}

TEST(VectorClock, OtherClockBlobIsLittleEndianAndRoundTrips) {
  const CVectorClock clock(Counters{9, 0x01020304, -2});
  const std::vector<uint8_t> blob = OtherClockBlob(clock);
  EXPECT_EQ(blob, (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01, 0xfe, 0xff, 0xff, 0xff}));
  EXPECT_TRUE(HasOtherComponents(clock));

  const CVectorClock back(clock.At(0), blob.data(), static_cast<int>(blob.size()));
  EXPECT_EQ(Components(back), Components(clock));

  EXPECT_TRUE(OtherClockBlob(CVectorClock(Counters{3})).empty());
  EXPECT_FALSE(HasOtherComponents(CVectorClock(Counters{3})));
}

TEST(VectorClock, RowBlobLengthIgnoresPartialComponents) {
  const uint8_t bytes[] = {5, 0, 0, 0, 6, 0, 0};
  struct Case {
    const void* blob;
    int size;
    Counters expected;
  };
  const Case cases[] = {
      {nullptr, 0, {1}},
      {bytes, 0, {1}},
      {bytes, 3, {1}},
      {bytes, 7, {1, 5}},
  };
  for (const Case& c : cases) EXPECT_EQ(Components(CVectorClock(1, c.blob, c.size)), c.expected) << c.size;
}

TEST(VectorClock, RemoteCountersLandOnMappedIndexes) {
  struct Case {
    std::vector<int32_t> indexes;
    int32_t maxIndex;
    Counters vclock;
    Counters expected;
  };
  const Case cases[] = {
      {{1, 0}, 1, {3, 5}, {5, 3}},
      {{1, 0}, 1, {0, 4}, {4}},      // only the local tree counted
      {{1, 0}, 1, {0, 4, 9}, {4}},   // a counter without a UUID is dropped
      {{2, 0, 1}, 2, {0, 0, 7}, {0, 7}},
      {{}, 0, {}, {0}},
  };
  for (const Case& c : cases) {
    const CVectorClock clock(ClockIndexMap{c.indexes, c.maxIndex}, std::span<const int32_t>(c.vclock));
    EXPECT_EQ(Components(clock), c.expected) << ::testing::PrintToString(c.vclock);
  }
}

class VectorClockStore : public store::StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    localTree_ = AddTree("tree-local", "/srv/local");
  }

  int32_t AddTree(const std::string& uuid, const std::string& root) {
    store::CContentValues tree;
    tree.PutString("device_uuid", "device-1").PutString("tree_uuid", uuid).PutString("tree_root", root);
    return static_cast<int32_t>(Resolver().Insert(store::uris::Tree(), tree, store::kConflictNone));
  }

  int32_t localTree_ = 0;
};

TEST_F(VectorClockStore, RemoteStatIsReadInTheLocalTreeNumbering) {
  qo::Stat stat;
  stat.add_vclock(3);
  stat.add_vclock(5);
  const ClockIndexMap map = MapClockUuids(localTree_, {"tree-remote", "tree-local"});
  ASSERT_EQ(map.indexes, (std::vector<int32_t>{1, 0}));

  const CVectorClock clock(map, stat.vclock());
  EXPECT_EQ(clock.At(0), 5);
  EXPECT_EQ(clock.At(map.indexes[0]), 3);

  stat.set_vclock(0, 0);
  EXPECT_EQ(CVectorClock(map, stat.vclock()).Length(), 1);
}

TEST_F(VectorClockStore, NewTreesGetTheNextIndexAndKeepIt) {
  EXPECT_EQ(MapClockUuids(localTree_, {"tree-a"}).indexes, std::vector<int32_t>{1});

  const ClockIndexMap map = MapClockUuids(localTree_, {"tree-b", "tree-a", "tree-local", "TREE-A"});
  EXPECT_EQ(map.indexes, (std::vector<int32_t>{2, 1, 0, 3}));
  EXPECT_EQ(map.max_index, 3);

  // Numbering is per local tree.
  const int32_t otherTree = AddTree("tree-other", "/srv/other");
  EXPECT_EQ(MapClockUuids(otherTree, {"tree-b"}).indexes, std::vector<int32_t>{1});
  EXPECT_EQ(MapClockUuids(localTree_, {}).max_index, 0);
}

TEST_F(VectorClockStore, LookingUpReadsTheNumberingAndNeverWrites) {
  ASSERT_EQ(MapClockUuids(localTree_, {"tree-a", "tree-b"}).indexes, (std::vector<int32_t>{1, 2}));
  const ClockIndexMap map = LookupClockUuids(localTree_, {"tree-b", "tree-new", "tree-local", "tree-a"});
  EXPECT_EQ(map.indexes, (std::vector<int32_t>{2, kUnknownClockIndex, 0, 1}));
  EXPECT_EQ(map.max_index, 2);
  EXPECT_EQ(Count(store::uris::VCUuid()), 2);
  // A counter at an unknown tree has no component to land on.
  EXPECT_EQ(Components(CVectorClock(map, Counters{4, 9, 1, 0})), (Counters{1, 0, 4}));
}

TEST_F(VectorClockStore, ConcurrentMappingNeverSharesAnIndex) {
  constexpr int kRounds = 200;
  for (int round = 0; round < kRounds; ++round) {
    const std::string shared = "shared-" + std::to_string(round);
    std::latch start(2);
    ClockIndexMap first;
    ClockIndexMap second;
    auto map = [&](ClockIndexMap& out, const std::string& own) {
      start.arrive_and_wait();
      out = MapClockUuids(localTree_, {shared, own});
    };
    std::thread a(map, std::ref(first), "a-" + std::to_string(round));
    std::thread b(map, std::ref(second), "b-" + std::to_string(round));
    a.join();
    b.join();
    ASSERT_EQ(first.indexes[0], second.indexes[0]) << "round " << round;
  }

  std::set<int32_t> seen;
  auto rows =
      Resolver().Query(store::uris::VCUuid(), {"clock_index"}, store::CSelection("tree_id = ? ").AddInt(localTree_));
  ASSERT_TRUE(rows);
  while (rows->MoveToNext()) EXPECT_TRUE(seen.insert(rows->GetInt(0)).second) << "index " << rows->GetInt(0);
  EXPECT_EQ(seen.size(), 3u * kRounds);
  EXPECT_EQ(*seen.rbegin(), 3 * kRounds);
}

TEST_F(VectorClockStore, FileClockIsReadFromItsRow) {
  const CVectorClock stored(Counters{4, 0, 2});
  store::CContentValues withOthers;
  withOthers.PutInt("tree_id", localTree_).PutString("path", "a.txt").PutInt("local_clock", stored.At(0));
  withOthers.PutClockBlob(OtherClockBlob(stored));
  ASSERT_GT(Resolver().Insert(store::uris::File(), withOthers, store::kConflictNone), 0);
  store::CContentValues localOnly;
  localOnly.PutInt("tree_id", localTree_).PutString("path", "b.txt").PutInt("local_clock", 1);
  ASSERT_GT(Resolver().Insert(store::uris::File(), localOnly, store::kConflictNone), 0);

  CVectorClock clock;
  ASSERT_TRUE(LoadFileClock(localTree_, "a.txt", clock));
  EXPECT_EQ(Components(clock), Components(stored));
  ASSERT_TRUE(LoadFileClock(localTree_, "b.txt", clock));
  EXPECT_EQ(Components(clock), Counters{1});
  EXPECT_FALSE(LoadFileClock(localTree_ + 1, "a.txt", clock));
  EXPECT_FALSE(LoadFileClock(localTree_, "missing.txt", clock));
}

}  // namespace
}  // namespace morvex::index
