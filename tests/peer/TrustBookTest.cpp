#include "peer/TrustBook.h"

#include <gtest/gtest.h>

#include <thread>

namespace morvex::peer {
namespace {

using namespace std::chrono_literals;

TEST(TrustBook, OnlyOurOwnUnusedUnexpiredTokenForThatDeviceIsRedeemed) {
  TrustBook book;
  book.RecordIssued("B", "token-for-B", 60s);
  book.RecordIssued("C", "token-for-C", 0s);  // already expired
  EXPECT_TRUE(book.HasOpenIssued("B"));
  EXPECT_FALSE(book.HasOpenIssued("C"));

  struct Case {
    const char* sender;
    const char* token;
    bool accepted;
  };
  const Case cases[] = {
      {"C", "token-for-B", false},  // a third device replays B's token
      {"B", "forged", false},       // not a token we issued
      {"C", "token-for-C", false},  // expired
      {"B", "token-for-B", true},
      {"B", "token-for-B", false},  // replayed after use
  };
  for (const Case& c : cases) EXPECT_EQ(book.Redeem(c.sender, c.token), c.accepted) << c.sender << " " << c.token;
  EXPECT_FALSE(book.HasOpenIssued("B"));
}

TEST(TrustBook, PendingRequestsAreTakenOnceAndExpire) {
  TrustBook book;
  book.RecordRequest("A", "a-token", 60s);
  book.RecordRequest("D", "d-token", 1s);
  EXPECT_TRUE(book.HasPendingRequest("A"));
  book.DropRequest("A", "other token");  // a cancel must name the request's own token
  EXPECT_TRUE(book.HasPendingRequest("A"));
  EXPECT_EQ(book.TakeRequest("A"), "a-token");
  EXPECT_FALSE(book.TakeRequest("A"));
  std::this_thread::sleep_for(1100ms);
  EXPECT_FALSE(book.HasPendingRequest("D"));
  EXPECT_FALSE(book.TakeRequest("D"));

  book.RecordIssued("B", "b-token", 60s);
  book.DropIssued("B", "b-token");  // B refused
  EXPECT_FALSE(book.TakeIssued("B"));
}

}  // namespace
}  // namespace morvex::peer
