#include "events/EventHistory.h"

#include <gtest/gtest.h>

#include <sstream>

#include "core/BroadcastService.h"
#include "events/EventRecorder.h"
#include "Morvex.pb.h"
#include "store/StoreFixture.h"

namespace morvex::events {
namespace {

class EventHistoryTest : public store::StoreFixture {};

TEST_F(EventHistoryTest, KeepsOnlyTheNewestThousand) {
  for (int i = 1; i <= kHistoryLimit + 5; ++i) {
    ASSERT_TRUE(AppendEvent({0, i, core::BM_INVALID_NAME, "", "/f" + std::to_string(i)}));
  }
  const std::vector<EventRow> rows = EventsAfter(0);
  ASSERT_EQ(rows.size(), static_cast<size_t>(kHistoryLimit));
  EXPECT_EQ(rows.front().text, "/f6");
  EXPECT_EQ(rows.back().text, "/f1005");
  EXPECT_EQ(rows.back().id, kHistoryLimit + 5);
  EXPECT_EQ(EventsAfter(kHistoryLimit + 3).size(), 2u);  // what --follow reads
}

TEST_F(EventHistoryTest, BroadcastsBecomeRowsAndATrustRequestSaysHowToAccept) {
  std::ostringstream terminal;
  {
    CEventRecorder recorder(terminal);
    auto& broadcast = core::CBroadcastService::Instance();
    qo::WinTrustInfo trust;
    trust.set_device_uuid("peer-1");
    broadcast.Broadcast(core::BM_TRUST_REQUEST, trust);
    broadcast.Broadcast(core::BM_CONFLICT_COPY, core::PathEvent{"peer-2", "/home/a/x (conflict).txt"});
    broadcast.Broadcast(core::BM_INVALID_NAME, core::PathEvent{"peer-2", "/home/a/a:b"});
    broadcast.Broadcast(core::BM_DELETE_APPLIED, core::DeletionsEvent{"peer-2", "/home/a", 3});
    broadcast.Broadcast(core::BM_TRUSTED_KEY_MISMATCH, core::DeviceKeyEvent{"peer-3", "box", "10.0.0.9"});
    broadcast.Broadcast(core::BM_OTHER_PASSWORD, core::AddressEvent{"10.0.0.7"});
    broadcast.Broadcast(core::BM_FILES_DONE, core::FileEvent{});  // progress is not history
  }
  core::CBroadcastService::Instance().Broadcast(core::BM_DELETE_APPLIED, core::DeletionsEvent{});  // recorder gone

  struct Expected {
    int kind;
    const char* device;
    const char* text;
  };
  const Expected expected[] = {
      {core::BM_TRUST_REQUEST, "peer-1", ""},
      {core::BM_CONFLICT_COPY, "peer-2", "/home/a/x (conflict).txt"},
      {core::BM_INVALID_NAME, "peer-2", "/home/a/a:b"},
      {core::BM_DELETE_APPLIED, "peer-2", "3 in /home/a"},
      {core::BM_TRUSTED_KEY_MISMATCH, "peer-3", "10.0.0.9"},
      {core::BM_OTHER_PASSWORD, "", "10.0.0.7"},
  };
  const std::vector<EventRow> rows = EventsAfter(0);
  ASSERT_EQ(rows.size(), std::size(expected));
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i].kind, expected[i].kind);
    EXPECT_EQ(rows[i].deviceUuid, expected[i].device);
    EXPECT_EQ(rows[i].text, expected[i].text);
    EXPECT_GT(rows[i].time, 0);
    EXPECT_NE(KindName(rows[i].kind), "unknown");
  }
  // An unknown device is named by its UUID.
  EXPECT_EQ(terminal.str(),
            "Device 'peer-1' asks to be trusted. To accept, run: morvexctl trust accept peer-1\n"
            "A device at 10.0.0.7 uses another sync password: the two cannot see each other until both use the same "
            "one\n");
}

TEST(TrustRequestNotice, QuotesNamesTheShellWouldSplit) {
  EXPECT_EQ(TrustRequestNotice("host2"),
            "Device 'host2' asks to be trusted. To accept, run: morvexctl trust accept host2");
  EXPECT_EQ(TrustRequestNotice("Bob's laptop"),
            "Device 'Bob's laptop' asks to be trusted. To accept, run: morvexctl trust accept 'Bob'\\''s laptop'");
}

}  // namespace
}  // namespace morvex::events
