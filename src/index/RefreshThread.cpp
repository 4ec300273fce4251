#include "index/RefreshThread.h"

#include "protocol/InprocEndpoints.h"

namespace morvex::index {

CRefreshThread::CRefreshThread(protocol::ZmqContext& context)
    : CInprocWorker(context, "refresher", protocol::endpoints::kRefresher, -1) {}

}  // namespace morvex::index
