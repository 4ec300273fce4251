#include "index/IndexThread.h"

#include "protocol/InprocEndpoints.h"

namespace morvex::index {

CIndexThread::CIndexThread(protocol::ZmqContext& context)
    : CInprocWorker(context, "indexer", protocol::endpoints::kIndexer, -1) {}

}  // namespace morvex::index
