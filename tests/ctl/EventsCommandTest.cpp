#include <gtest/gtest.h>

#include <sstream>

#include "config/KelmConfig.h"
#include "core/BroadcastService.h"
#include "ctl/CommandContext.h"
#include "ctl/Commands.h"
#include "ctl/SavedProfile.h"
#include "events/EventHistory.h"
#include "protocol/SslUtils.h"
#include "store/ContentProvider.h"
#include "store/ContentResolver.h"
#include "store/SQLite.h"
#include "support/TempDir.h"

namespace morvex::ctl {
namespace {

// A device's database as the service leaves it: an identity, one known
// peer and a few events; then closed, for morvexctl to open read-only.
class EventsCommandTest : public test_support::SavedProfileTest {
 protected:
  void SetUp() override {
    SaveIdentity();
    store::CContentValues peer;
    peer.PutString("uuid", "peer-uuid").PutString("name", "host2").PutInt("trust", 1);
    ASSERT_GT(store::CContentResolver::Instance().Insert(store::uris::Device(), peer, store::kConflictNone), 0);
    ASSERT_TRUE(events::AppendEvent({0, 1700000000, core::BM_CONFLICT_COPY, "peer-uuid", "/home/a/x.conflict"}));
    ASSERT_TRUE(events::AppendEvent({0, 1700000060, core::BM_TRUST_REQUEST, "stranger", ""}));
    CloseStore();
  }
  int Run(const std::vector<std::string>& words, std::string& out) {
    std::string err;
    const int status = RunCtl(words, out, err);
    EXPECT_EQ(err, "");
    return status;
  }
};

TEST_F(EventsCommandTest, JsonListsTheHistoryOldestFirstWithDeviceNames) {
  std::string out;
  ASSERT_EQ(Run({"--json", "events"}, out), kExitOk);
  EXPECT_EQ(out,
            "[{\"id\": 1, \"time\": 1700000000, \"kind\": \"conflict-copy\", \"device_uuid\": \"peer-uuid\", "
            "\"device_name\": \"host2\", \"detail\": \"/home/a/x.conflict\"}, "
            "{\"id\": 2, \"time\": 1700000060, \"kind\": \"trust-request\", \"device_uuid\": \"stranger\", "
            "\"device_name\": \"stranger\", \"detail\": \"\"}]\n");
}

TEST_F(EventsCommandTest, TextHasAHeaderAndTheKindInWords) {
  std::string out;
  ASSERT_EQ(Run({"events"}, out), kExitOk);
  std::istringstream lines(out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "TIME\tKIND\tDEVICE\tDETAIL");
  std::getline(lines, line);
  EXPECT_NE(line.find("\tconflict copy made\thost2\t/home/a/x.conflict"), std::string::npos) << line;
}

// Following prints what is there, then each new row once, as one JSON
// object per line.
TEST_F(EventsCommandTest, FollowPrintsOnlyNewRows) {
  std::ostringstream out;
  std::ostringstream err;
  Context context{Invocation{}, out, err, std::nullopt, {}, 0};
  context.invocation.metadir = metadir_.Path();
  context.invocation.json = true;
  context.invocation.follow = true;
  std::string error;
  ASSERT_TRUE(OpenLocalDatabase(metadir_.Path(), error)) << error;
  int rounds = 0;
  const auto waitForMore = [&] {
    if (rounds++ == 0) {
      // The service appends while the client follows: a second connection.
      store::CSQLite writer;
      EXPECT_TRUE(writer.Open(metadir_ / "Morvex/Morvex.db"));
      EXPECT_TRUE(writer.Exec("INSERT INTO Event (time, kind, device_uuid, text) VALUES (1700000120, 7, '', '3')"));
    }
    return rounds < 3;
  };
  ASSERT_EQ(ShowEvents(context, waitForMore), kExitOk);
  std::istringstream lines(out.str());
  std::vector<std::string> ids;
  for (std::string line; std::getline(lines, line);) ids.push_back(line.substr(0, line.find(',')));
  EXPECT_EQ(ids, (std::vector<std::string>{"{\"id\": 1", "{\"id\": 2", "{\"id\": 3"}));
  EXPECT_NE(out.str().find("\"kind\": \"deletions-applied\""), std::string::npos);
}

}  // namespace
}  // namespace morvex::ctl
