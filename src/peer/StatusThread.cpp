#include "peer/StatusThread.h"

#include <glog/logging.h>

#include <algorithm>
#include <ctime>

#include "aux/Deployment.h"
#include "core/BroadcastService.h"
#include "device/DeviceQueries.h"
#include "index/QoFile.h"
#include "peer/DeviceChannel.h"
#include "peer/Relations.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/MessageLimits.h"
#include "store/ContentResolver.h"

namespace morvex::peer {

using store::CContentResolver;
using store::CSelection;
namespace uris = store::uris;

CStatusThread::CStatusThread(PeerContext& peer, int pollPeriodMs)
    : CInprocWorker(peer.zmq, "status", protocol::endpoints::kStatus, pollPeriodMs), peer_(peer) {}

void CStatusThread::OnMessage(protocol::CQoMsg& message) {
  if (message.Code() == qo::MC_WIN_REPORT_STATUS) {
    ReportStep(reportState_);
    reportState_ = aux::kReportPeriod;
    return;
  }
  if (message.Code() != qo::MC_WIN_STATUS) return;
  qo::MsgWinStatus status;
  if (!message.ParseBody(status)) {
    LOG(WARNING) << "Ooops, invailed MsgWinStatus, should not happen.";
    return;
  }
  LOG(INFO) << "[Message   ] MC_WIN_STATUS " << status.device_id();
  device::CDevice device;
  if (!device.LoadById(status.device_id())) {
    LOG(WARNING) << "Ooops, invailed device id, should not happen.";
    return;
  }
  if (device.uuid != peer_.config.Snapshot()->deviceUuid) PollDevice(device);
}

void CStatusThread::ReportStep(int kind) {
  // Reminding of feedback that cannot be sent would only nag.
  const aux::Deployment deployment = aux::LoadDeployment(peer_.appDir);
  if (deployment.statisticsHost.empty()) return;
  if (kind != aux::kReportStop && aux::CheckFeedbackReminder(static_cast<int32_t>(std::time(nullptr)))) {
    core::CBroadcastService::Instance().Broadcast(core::BM_FEEDBACK_REMIND);
  }
  const index::RecordTotals records = index::CountAllRecords();
  aux::SendUsageReport(deployment, peer_.config.Snapshot()->deviceUuid, kind,
                       {CountSyncDirRows(), records.records, records.bytes});
}

void CStatusThread::PollAll() {
  const std::string own = peer_.config.Snapshot()->deviceUuid;
  for (const device::CDevice& device : device::TrustedOnlineDevices()) {
    if (device.uuid != own) PollDevice(device);
  }
}

void CStatusThread::PollDevice(const device::CDevice& device) {
  const auto config = peer_.config.Snapshot();
  qo::MsgStatusRequest ask;
  ask.set_device_uuid(config->deviceUuid);
  const protocol::PeerReply answer =
      OpenDeviceChannel(peer_, device, PeerKey::kTrusted).Ask(qo::MC_STATUS_REQUEST, &ask, kAnswerWaitMs);
  if (!answer.answered()) {
    LOG(ERROR) << "Failed to receive MsgStatusResponse";
    return;
  }
  if (answer.refused()) {
    const int error = answer.peerError.value_or(qo::ZE_SUCCESS);
    if (error == qo::ZE_UNTRUSTED) {
      LOG(WARNING) << "Receive MsgError: ZE_UNTRUSTED: " << " We will distrust " << device.uuid;
      device::CDevice untrusted = device;
      untrusted.SetUntrusted();
    } else {
      LOG(ERROR) << "Receive MsgError: " << qo::ErrorCode_Name(error);
    }
    return;
  }
  // Only a complete answer may delete relations: anything else says
  // nothing about which relations the peer keeps.
  if (answer.code != qo::MC_STATUS_RESPONSE) {
    LOG(ERROR) << "Unexpected answer " << answer.code << " to MsgStatusRequest from " << device.uuid;
    return;
  }
  qo::MsgStatusResponse response;
  if (!protocol::limits::ParseBounded(response, answer.body)) {
    LOG(ERROR) << "Bad format for MsgStatusResponse";
    return;
  }
  // The peer reports each relation from its side: its local tree is our
  // peer tree and the other way round.
  std::vector<RelationInfo> relations;
  ListRelationInfos(RelationsWithDevice(device.uuid), WithPeerName::kNo, relations);
  std::vector<int32_t> staleIds;
  std::string stale;
  for (const RelationInfo& relation : relations) {
    const std::string& local = relation.info.local_tree_uuid();
    const std::string& remote = relation.info.remote_tree_uuid();
    const bool confirmed = std::any_of(response.syncs().begin(), response.syncs().end(), [&](const qo::SyncInfo& info) {
      return info.local_tree_uuid() == remote && info.remote_tree_uuid() == local;
    });
    if (confirmed) continue;
    staleIds.push_back(relation.syncId);
    stale += (stale.empty() ? "" : ", ") + std::to_string(relation.syncId);
  }
  if (!stale.empty()) {
    LOG(INFO) << "Relations no longer kept by " << device.uuid << ": " << stale;
    DeleteRelations(staleIds);
  }
}

}  // namespace morvex::peer
