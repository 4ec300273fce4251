#pragma once

#include "protocol/InprocWorker.h"

namespace morvex::peer {

// The status poller's thread ("status"): serves "inproc://status.inproc"
// and wakes every poll period to ask the trusted online peers for the state
// of their relations. Owned by the application object.
class CStatusThread final : public protocol::CInprocWorker {
 public:
  static constexpr int kPollPeriodMs = 300000;

  explicit CStatusThread(protocol::ZmqContext& context, int pollPeriodMs = kPollPeriodMs);
  ~CStatusThread() override { Join(); }
};

}  // namespace morvex::peer
