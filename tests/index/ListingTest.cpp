#include "index/Listing.h"

#include <gtest/gtest.h>

#include <vector>

#include "store/StoreFixture.h"

namespace morvex::index {
namespace {

class ListingTest : public store::StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    // Tree 1 is rooted at /r; /r/b and /r/c were removed together (one usn).
    ASSERT_TRUE(Db().Exec(
        "INSERT INTO File (tree_id, path, type, status, usn, sha1, local_clock, other_clock) VALUES "
        "(1, '/r', 1, 1, 1, '', 1, NULL),"
        "(1, '/r/a', 0, 1, 2, 'da39', 7, x'0500000006000000'),"
        "(1, '/r/b', 0, 2, 3, '', 2, NULL),"
        "(1, '/r/c', 0, 2, 3, '', 2, NULL),"
        "(1, '/r/d', 0, 1, 4, '', 1, NULL),"
        "(2, '/x/e', 0, 1, 5, '', 1, NULL)"));
  }

  static std::vector<int64_t> Usns(const std::vector<ListedRecord>& records) {
    std::vector<int64_t> usns;
    for (const ListedRecord& record : records) usns.push_back(record.usn);
    return usns;
  }
};

TEST_F(ListingTest, RecordsSinceAUsnNeverEndInsideAUsnGroup) {
  struct Case {
    int64_t since;
    int32_t limit;
    std::vector<int64_t> usns;
  };
  const Case cases[] = {
      {0, 10, {2, 3, 3, 4}},  // neither the root nor another tree's record
      {0, 1, {2}},
      {0, 2, {2, 3, 3}},  // the group the limit falls in is finished
      {2, 1, {3, 3}},
      {3, 10, {4}},
      {4, 10, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Usns(RecordsSince(1, "/r", c.since, c.limit)), c.usns) << "since " << c.since << " limit " << c.limit;
  }
}

TEST_F(ListingTest, RecordsCarryTheirStoredClock) {
  const std::vector<ListedRecord> records = RecordsSince(1, "/r", 1, 1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].path, "/r/a");
  EXPECT_EQ(records[0].sha1, "da39");
  const std::vector<int32_t> clock(records[0].clock.Data().begin(), records[0].clock.Data().end());
  EXPECT_EQ(clock, (std::vector<int32_t>{7, 5, 6}));
}

TEST_F(ListingTest, ClockUuidsFollowTheClockIndexOfTheirTree) {
  ASSERT_TRUE(Db().Exec("INSERT INTO VCUuid VALUES (1, 'clock-b', 2), (1, 'clock-a', 1), (2, 'clock-z', 1)"));
  EXPECT_EQ(ClockUuids(1), (std::vector<std::string>{"clock-a", "clock-b"}));
  EXPECT_TRUE(ClockUuids(3).empty());
}

}  // namespace
}  // namespace morvex::index
