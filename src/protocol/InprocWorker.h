#pragma once

#include <string>

#include "core/WorkThread.h"
#include "protocol/QoMsg.h"
#include "protocol/ZmqSocket.h"

namespace morvex::protocol {

// A worker thread that serves one in-process PULL endpoint: it binds the
// endpoint, subscribes to the exit notice, reports MC_WIN_WORKER_READY to
// the start-up barrier, then dispatches each message by its code until the
// exit notice arrives.
//
// Threads: every socket here is created, used and closed on the worker's
// own thread; the object is shared with its owner only through the
// CWorkThread start and join.
class CInprocWorker : public core::CWorkThread {
 public:
  // pollTimeoutMs: -1 waits without limit; otherwise OnTimeout() runs each
  // time a wait of that length ends without a message.
  CInprocWorker(ZmqContext& context, std::string threadName, std::string endpoint, int pollTimeoutMs);
  ~CInprocWorker() override { Join(); }

 protected:
  uint32_t Run() final;
  // Codes a worker does not handle are ignored.
  virtual void OnMessage(CQoMsg& /*message*/) {}
  virtual void OnTimeout() {}
  // Runs on the worker's thread once its loop has ended.
  virtual void OnExit() {}
  // Sends the ready notice; true when it went out.
  virtual bool ReportReady();

  ZmqContext& Context() { return context_; }

 private:
  ZmqContext& context_;
  std::string endpoint_;
  int pollTimeoutMs_;
};

}  // namespace morvex::protocol
