#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "aux/LoopbackHttpServer.h"
#include "aux/UsageReport.h"
#include "config/ConfigTable.h"
#include "peer/PeerFixture.h"
#include "peer/StatusThread.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"

namespace morvex::peer {
namespace {

class StatusReportTest : public PeerFixture {};

// The report requests of the main window reach the statistics host as
// "start" and then "period", the end of the poller as "stop", each with the
// counts of the tables; the first request also runs the feedback reminder.
TEST_F(StatusReportTest, ReportsStartPeriodAndStopWithTheCounts) {
  test::LoopbackHttpServer server;
  ASSERT_TRUE(server.Running());
  test::WriteFile(metadir_ / "Morvex/deployment.ini", "statistics_host = " + server.Authority() + "\n");
  ASSERT_TRUE(config::StoreFeedBackState("first"));
  ASSERT_TRUE(config::StoreFirstTime(1000));
  ASSERT_TRUE(Db().Exec("INSERT INTO Tree (id, tree_uuid, tree_root) VALUES (1, 't1', '/docs')"));
  ASSERT_TRUE(Db().Exec("INSERT INTO Sync (id, tree_id, peer_device_uuid, peer_tree_uuid) VALUES (1, 1, 'd', 'p')"));
  ASSERT_TRUE(Db().Exec("INSERT INTO File (tree_id, path, length) VALUES (1, '/a', 10), (1, '/b', 5)"));
  {
    CStatusThread poller(*peer_, 1000000);
    poller.Resume();
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(protocol::PushOnce(zmq_, protocol::endpoints::kStatus, qo::MC_WIN_REPORT_STATUS));
    }
    for (int i = 0; i < 500 && server.Requests().size() < 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    while (!poller.Finished()) {
      exit_->SendFrame(nullptr, 0, false);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  const std::string prefix = "Morvex/1.0 /app.php/report/" + config_.Snapshot()->deviceUuid + "/Linux/" +
                             aux::ReportVersion() + "/";
  const std::string counts = "/" + aux::ReadChannel() + "/1/2/15";
  const std::vector<std::string> expected{prefix + "start" + counts, prefix + "period" + counts,
                                         prefix + "stop" + counts};
  EXPECT_EQ(server.Requests(), expected);
  EXPECT_GT(config::ReadFirstTime(), 1000) << "the reminder came, and its period starts again";
}

}  // namespace
}  // namespace morvex::peer
