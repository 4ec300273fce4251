// The main window's requests to the workers, received where the sync router
// would receive them.
#include "desktop/ServiceRequests.h"

#include <gtest/gtest.h>

#include <vector>

#include "Morvex.pb.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/QoMsg.h"

namespace morvex::desktop {
namespace {

TEST(ServiceRequestsTest, SyncNowAsksForOnePassPerRelationAndNothingWithoutOne) {
  protocol::ZmqContext zmq;
  protocol::ZmqSocket router(zmq, ZMQ_PULL);
  ASSERT_TRUE(router.Bind(protocol::endpoints::kSyncer));
  EXPECT_EQ(RequestSyncPasses(zmq, {}), 0);
  EXPECT_EQ(RequestSyncPasses(zmq, {3, 5}), 2);
  std::vector<int32_t> ids;
  for (;;) {
    protocol::CQoMsg message;
    if (!message.Recv(router, false, 500)) break;
    ASSERT_EQ(message.Code(), qo::MC_WIN_SYNC);
    qo::MsgWinSync sync;
    ASSERT_TRUE(sync.ParseFromArray(message.BodyData(), static_cast<int>(message.BodySize())));
    ids.push_back(sync.sync_id());
  }
  EXPECT_EQ(ids, (std::vector<int32_t>{3, 5}));
}

}  // namespace
}  // namespace morvex::desktop
