#include "desktop/ServiceRequests.h"

#include "Morvex.pb.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"

namespace morvex::desktop {

int RequestSyncPasses(protocol::ZmqContext& zmq, const std::vector<int32_t>& syncIds) {
  if (syncIds.empty()) return 0;
  protocol::ZmqSocket push(zmq, ZMQ_PUSH);
  // A sync router that has stopped must not hold the window's thread.
  push.SetOption(ZMQ_SNDTIMEO, protocol::kPushOnceTimeoutMs);
  if (!push.Connect(protocol::endpoints::kSyncer)) return 0;
  int sent = 0;
  for (const int32_t id : syncIds) {
    qo::MsgWinSync sync;
    sync.set_sync_id(id);
    if (!push.SendMsg(qo::MC_WIN_SYNC, &sync)) break;
    ++sent;
  }
  return sent;
}

bool RequestStatusReport(protocol::ZmqContext& zmq) {
  return protocol::PushOnce(zmq, protocol::endpoints::kStatus, qo::MC_WIN_REPORT_STATUS);
}

}  // namespace morvex::desktop
