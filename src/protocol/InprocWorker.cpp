#include "protocol/InprocWorker.h"

#include "Morvex.pb.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"

namespace morvex::protocol {

CInprocWorker::CInprocWorker(ZmqContext& context, std::string threadName, std::string endpoint, int pollTimeoutMs)
    : CWorkThread(std::move(threadName)), context_(context), endpoint_(std::move(endpoint)), pollTimeoutMs_(pollTimeoutMs) {}

bool CInprocWorker::ReportReady() { return PushOnce(context_, endpoints::kInit, qo::MC_WIN_WORKER_READY); }

uint32_t CInprocWorker::Run() {
  ZmqSocket own(context_, ZMQ_PULL);
  own.Bind(endpoint_);
  ZmqSocket exit = SubscribeExit(context_);
  ReportReady();
  RunWorkerLoop(exit, own, pollTimeoutMs_,
                {[this](CQoMsg& message) { OnMessage(message); }, [this] { OnTimeout(); }});
  OnExit();
  return 0;
}

}  // namespace morvex::protocol
