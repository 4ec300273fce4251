#pragma once

#include "aux/UsageReport.h"
#include "device/Device.h"
#include "peer/PeerContext.h"
#include "protocol/InprocWorker.h"

namespace morvex::peer {

// The status poller's thread ("status"): every poll period without a
// command, and at once for MC_WIN_STATUS, asks each trusted online peer
// which relations it has with this device, deletes the local relations the
// peer no longer has (only on a status answer; an error says nothing about
// them), and distrusts a peer that no longer trusts us.
// Serves "inproc://status.inproc". Owned by the application object.
//
// Threads: sockets and polls on its own thread; shares the PeerContext.
class CStatusThread final : public protocol::CInprocWorker {
 public:
  static constexpr int kPollPeriodMs = 300000;
  static constexpr int kAnswerWaitMs = 5000;

  explicit CStatusThread(PeerContext& peer, int pollPeriodMs = kPollPeriodMs);
  ~CStatusThread() override { Join(); }

  // One peer, as the poll does it; public for tests.
  void PollDevice(const device::CDevice& device);
  void PollAll();

 private:
  void OnMessage(protocol::CQoMsg& message) override;
  void OnTimeout() override { PollAll(); }
  void OnExit() override { ReportStep(aux::kReportStop); }
  // The feedback reminder (not at the end) and the usage report of `kind`;
  // both only when the deployment names a statistics host.
  void ReportStep(int kind);

  PeerContext& peer_;
  int reportState_ = 0;
};

}  // namespace morvex::peer
