#include "peer/StatusThread.h"

#include "protocol/InprocEndpoints.h"

namespace morvex::peer {

CStatusThread::CStatusThread(protocol::ZmqContext& context, int pollPeriodMs)
    : CInprocWorker(context, "status", protocol::endpoints::kStatus, pollPeriodMs) {}

}  // namespace morvex::peer
