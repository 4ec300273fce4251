#pragma once

#include <string>

#include "core/WorkThread.h"
#include "peer/PeerContext.h"

namespace morvex::peer {

// One of the router's request workers ("worker%d"). Takes one request at a
// time from "inproc://routeresp.inproc" (REQ, identity = its name), checks
// it through the protected envelope, dispatches it by code and sends the
// answer back through the router. Ends on the exit notice.
//
// Threads: its sockets live on its own thread; it shares the PeerContext.
class CRespWorker final : public core::CWorkThread {
 public:
  static constexpr int kReceiveTimeoutMs = 5000;

  CRespWorker(PeerContext& peer, std::string name);
  ~CRespWorker() override { Join(); }

 private:
  uint32_t Run() override;

  PeerContext& peer_;
};

}  // namespace morvex::peer
