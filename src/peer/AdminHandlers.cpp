#include <glog/logging.h>

#include <algorithm>
#include <optional>

#include "core/StatusBoard.h"
#include "device/DeviceQueries.h"
#include "index/FileUtils.h"
#include "index/Tree.h"
#include "peer/PrivateFolders.h"
#include "peer/Relations.h"
#include "peer/RequestHandlers.h"
#include "platform/Metadir.h"
#include "protocol/Identity.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"
#include "store/ContentResolver.h"
#include "store/SyncStateClear.h"

namespace morvex::peer {

using protocol::IsValidUuid;
using store::CContentResolver;
using store::CSelection;

namespace {

// A folder that may become a tree here: an absolute path of an existing
// directory, not the file-system root and not inside the service's own
// folder.
bool UsableTreeRoot(const std::string& root, const std::string& appDir) {
  if (root.size() < 2 || root[0] != '/' || root.back() == '/') return false;
  if (index::GetFileInfo(root).kind != index::FileKind::kDirectory) return false;
  return appDir.empty() || (!index::PathWithin(root, appDir) && !index::PathWithin(appDir, root));
}

// Whether another device sent the request (this device's own tools sign
// with its own key).
bool FromPeer(const Request& request) { return request.SenderUuid() != request.config->deviceUuid; }

// A requester's text as it may go into one log line.
std::string Printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return text;
}

}  // namespace

// The envelope let only this device's own key through (an own-device code).
int HandleDeviceAdd(Request& request) {
  qo::MsgDeviceAddRequest add;
  if (!request.Parse(add)) return qo::ZE_BAD_FORMAT;
  if (!IsValidUuid(add.uuid())) return qo::ZE_BAD_UUID;
  if (!device::AddUntrustedDevice(add)) return device::DeviceKnown(add.uuid()) ? qo::ZE_EXIST : qo::ZE_SQLITE;
  request.answer.Send(qo::MC_DEVICE_ADD_RESPONSE, nullptr, false);
  return 0;
}

int HandleDeviceDelete(Request& request) {
  qo::MsgDeviceDeleteRequest remove;
  if (!request.Parse(remove)) return qo::ZE_BAD_FORMAT;
  if (!IsValidUuid(remove.uuid())) return qo::ZE_BAD_UUID;
  // Without its own row this device could not even answer its tools; a peer
  // may withdraw itself, and only this device's own key removes others.
  const bool ownRow = remove.uuid() == request.config->deviceUuid;
  if (ownRow || (!request.FromOwnDevice() && remove.uuid() != request.SenderUuid())) {
    LOG(WARNING) << "Refused to delete device " << remove.uuid() << " for " << request.SenderUuid()
                 << (ownRow ? ": this device's own row" : ": not the sender's row");
    return qo::ZE_PERMISSION_DENY;
  }
  if (!device::DeleteDevice(remove.uuid())) return qo::ZE_NOENT;
  request.answer.Send(qo::MC_DEVICE_DELETE_RESPONSE, nullptr, false);
  return 0;
}

int HandleTreeAdd(Request& request) {
  qo::MsgTreeAddRequest add;
  if (!request.Parse(add)) return qo::ZE_BAD_FORMAT;
  if (!IsValidUuid(add.sync_uuid()) || (add.has_tree_uuid() && !IsValidUuid(add.tree_uuid()))) return qo::ZE_BAD_UUID;
  if (!UsableTreeRoot(add.tree_root(), request.peer.appDir)) return qo::ZE_BAD_PATH;
  const bool fromPeer = FromPeer(request);
  const std::string who = Printable(PeerDeviceName(request.SenderUuid()) + " (" + request.SenderUuid() + ")");
  if (PrivateFolders::For(request.peer.appDir).Covers(add.tree_root())) {
    LOG(WARNING) << "Refused to make a sync folder of the private folder " << Printable(add.tree_root())
                 << " for " << who;
    return qo::ZE_PERMISSION_DENY;
  }
  const std::string treeUuid = add.has_tree_uuid() ? add.tree_uuid() : protocol::NewUuid();
  const int result = index::CreateTree(add.sync_uuid(), add.tree_root(), treeUuid, request.config->deviceUuid);
  if (result != qo::ZE_SUCCESS) return result;
  // A peer choosing what of ours gets synced is worth a line the user sees.
  LOG_IF(WARNING, fromPeer) << "Sync folder " << Printable(add.tree_root()) << " made for the peer " << who;
  LOG_IF(INFO, !fromPeer) << "Sync folder " << Printable(add.tree_root()) << " made for this device's tools";
  if (request.peer.onTreeAdded) request.peer.onTreeAdded(add.tree_root());
  qo::MsgTreeAddResponse response;
  response.set_tree_uuid(treeUuid);
  request.answer.Send(qo::MC_TREE_ADD_RESPONSE, &response, false);
  return 0;
}

int HandleTreeDelete(Request& request) {
  qo::MsgTreeDeleteRequest remove;
  if (!request.Parse(remove)) return qo::ZE_BAD_FORMAT;
  if (!IsValidUuid(remove.tree_uuid())) return qo::ZE_BAD_UUID;
  if (TreeHasRelations(remove.tree_uuid())) return qo::ZE_SYNC_NOEMPTY;
  const index::LocalTree tree = index::LocalTree::ByUuid(remove.tree_uuid());
  if (index::DeleteTree(tree) != qo::ZE_SUCCESS) return qo::ZE_NOENT;
  // A rescan still waiting for the tree has nothing left to do.
  qo::MsgWinRefreshCancel cancel;
  cancel.set_local_tree_id(tree.Id());
  protocol::PushOnce(request.peer.zmq, protocol::endpoints::kRefresher, qo::MC_WIN_REFRESH_CANCEL, &cancel);
  if (request.peer.onTreeDeleted) request.peer.onTreeDeleted(tree.Root());
  request.answer.Send(qo::MC_TREE_DELETE_RESPONSE, nullptr, false);
  return 0;
}

int HandleTreeShow(Request& request) {
  qo::MsgTreeShowResponse response;
  for (const index::LocalTree& local : index::LocalTree::All()) {
    qo::TreeInfo& tree = *response.add_trees();
    tree.set_id(local.Id());
    tree.set_sync_uuid(local.SyncUuid());
    tree.set_tree_uuid(local.TreeUuid());
    tree.set_tree_root(local.Root());
  }
  request.answer.Send(qo::MC_TREE_SHOW_RESPONSE, &response, false);
  return 0;
}

int HandleSyncAdd(Request& request) {
  qo::MsgSyncAddRequest add;
  if (!request.Parse(add)) return qo::ZE_BAD_FORMAT;
  for (const std::string* uuid : {&add.remote_sync_uuid(), &add.local_tree_uuid(), &add.remote_device_uuid(),
                                  &add.remote_tree_uuid()}) {
    if (!IsValidUuid(*uuid)) return qo::ZE_BAD_UUID;
  }
  const index::LocalTree tree = index::LocalTree::ByUuid(add.local_tree_uuid());
  if (!tree.Valid()) return qo::ZE_BAD_TREE;
  if (tree.SyncUuid() != add.remote_sync_uuid()) return qo::ZE_SYNCDIR_MISMATCH;
  // A valid UUID holds only hexadecimal digits and "-": nothing in it acts
  // as a LIKE wildcard.
  const std::vector<std::string> devices = device::UuidsStartingWith(add.remote_device_uuid());
  if (devices.size() != 1) return qo::ZE_BAD_DEVICE;
  // A peer links its own trees with ours, never ours with a third device.
  if (FromPeer(request) && devices.front() != request.SenderUuid()) return qo::ZE_PERMISSION_DENY;
  if (devices.front() == request.config->deviceUuid && add.remote_tree_uuid() == tree.TreeUuid()) {
    return qo::ZE_SYNC_WITH_SELF;
  }
  const int inserted = InsertRelation({.treeId = tree.Id(),
                                       .peerDeviceUuid = devices.front(),
                                       .peerTreeUuid = add.remote_tree_uuid(),
                                       .peerTreeRoot = add.remote_tree_root(),
                                       .creator = request.config->deviceUuid});
  if (inserted != qo::ZE_SUCCESS) return inserted;
  request.answer.Send(qo::MC_SYNC_ADD_RESPONSE, nullptr, false);
  return 0;
}

int HandleSyncDelete(Request& request) {
  qo::MsgSyncDeleteRequest remove;
  if (!request.Parse(remove)) return qo::ZE_BAD_FORMAT;
  if (!IsValidUuid(remove.local_tree_uuid()) || !IsValidUuid(remove.remote_tree_uuid())) return qo::ZE_BAD_UUID;
  const index::LocalTree tree = index::LocalTree::ByUuid(remove.local_tree_uuid());
  if (!tree.Valid()) return qo::ZE_NOENT;
  // A peer drops only its own relations with us; this device's tools any.
  const int64_t deleted =
      DeleteRelationsBetween(tree.Id(), remove.remote_tree_uuid(),
                             FromPeer(request) ? std::optional<std::string>(request.SenderUuid()) : std::nullopt);
  if (deleted == 0) return qo::ZE_NOENT;
  if (deleted != 1) return qo::ZE_BAD_FORMAT;
  request.answer.Send(qo::MC_SYNC_DELETE_RESPONSE, nullptr, false);
  return 0;
}

int HandleWinSyncDelete(Request& request) {
  qo::MsgWinSyncDeleteRequest remove;
  if (!request.Parse(remove)) return qo::ZE_BAD_FORMAT;
  if (!DeleteSync(request.peer, remove.sync_id())) return qo::ZE_NOENT;
  request.answer.Send(qo::MC_WIN_SYNC_DELETE_RESPONSE, nullptr, false);
  return 0;
}

// The service's own state for its control tool. Each relation is one
// SyncInfo (its local and remote trees) with: last_sync = end of its last
// pass (ms since 1970, 0 before the first), dirty_count / dirty_size =
// files and bytes still pending, total_count = state bits (1 running,
// 2 queued, 4 last pass complete). Each tree with indexing outstanding is a
// SyncInfo without remote device, dirty_count = items outstanding. A
// relation whose last pass was incomplete has a PassProblemInfo saying why.
int HandleLinuxStatus(Request& request) {
  const auto relations = core::CStatusBoard::Instance().Relations();
  qo::MsgStatusResponse response;
  std::vector<RelationInfo> listed;
  ListRelationInfos(CSelection(), WithPeerName::kYes, listed);
  for (RelationInfo& relation : listed) {
    qo::SyncInfo& info = *response.add_syncs();
    info = std::move(relation.info);
    const auto found = relations.find(relation.syncId);
    const core::RelationStatus status = found == relations.end() ? core::RelationStatus{} : found->second;
    info.set_last_sync(status.lastPassEnd);
    info.set_dirty_count(std::max<int64_t>(status.pendingFiles, 0));
    info.set_dirty_size(std::max<int64_t>(status.pendingBytes, 0));
    info.set_total_count((status.running ? 1 : 0) | (status.queued ? 2 : 0) | (status.lastPassOk ? 4 : 0));
    if (status.pendingBytes > 0 && status.workBytes > 0) {
      qo::WorkProgressInfo& progress = *response.add_progress();
      progress.set_local_tree_uuid(info.local_tree_uuid());
      progress.set_remote_tree_uuid(info.remote_tree_uuid());
      progress.set_total_bytes(status.workBytes);
      progress.set_started(status.workStart);
    }
    const core::PassReport& report = status.lastPass;
    if (status.lastPassEnd == 0 || status.lastPassOk || report.problem == core::PassProblem::kNone) continue;
    qo::PassProblemInfo& problem = *response.add_problems();
    problem.set_local_tree_uuid(info.local_tree_uuid());
    problem.set_remote_tree_uuid(info.remote_tree_uuid());
    problem.set_kind(static_cast<int32_t>(report.problem));
    if (report.peerError != 0) problem.set_peer_error(report.peerError);
    for (const core::FailedItem& item : report.items) {
      qo::FailedItemInfo& listedItem = *problem.add_items();
      listedItem.set_path(item.path);
      listedItem.set_reason(item.reason);
    }
    problem.set_item_count(report.itemCount);
  }
  for (const auto& [treeId, outstanding] : core::CStatusBoard::Instance().Indexing()) {
    const index::LocalTree tree = index::LocalTree::ById(treeId);
    if (!tree.Valid() || outstanding <= 0) continue;
    qo::SyncInfo& info = *response.add_syncs();
    info.set_local_tree_uuid(tree.TreeUuid());
    info.set_remote_device_uuid("");
    info.set_remote_tree_uuid("");
    info.set_remote_tree_root("");
    info.set_dirty_count(outstanding);
  }
  request.answer.Send(qo::MC_LINUX_STATUS_RESPONSE, &response, false);
  return 0;
}

int HandleSyncShow(Request& request) {
  qo::MsgSyncShowRequest show;
  if (!request.Parse(show)) return qo::ZE_BAD_FORMAT;
  // A peer sees only its own relations with us, whichever devices it names.
  if (FromPeer(request)) {
    show.clear_remote_device_uuids();
    show.add_remote_device_uuids(request.SenderUuid());
  }
  std::vector<RelationInfo> listed;
  ListRelationInfos(RelationsWithDevices(show.remote_device_uuids()), WithPeerName::kYes, listed);
  qo::MsgSyncShowResponse response;
  for (RelationInfo& relation : listed) *response.add_syncs() = std::move(relation.info);
  request.answer.Send(qo::MC_SYNC_SHOW_RESPONSE, &response, false);
  return 0;
}

int HandleSyncOnce(Request& request) {
  qo::MsgSyncOnceRequest once;
  if (!request.Parse(once)) return qo::ZE_BAD_FORMAT;
  const int32_t id = RelationIdBetween(once.local_tree_uuid(), once.remote_tree_uuid());
  if (id <= 0) return qo::ZE_BAD_SYNCDIR;
  qo::MsgWinSync sync;
  sync.set_sync_id(id);
  protocol::PushOnce(request.peer.zmq, protocol::endpoints::kSyncer, qo::MC_WIN_SYNC, &sync);
  request.answer.Send(qo::MC_SYNC_ONCE_RESPONSE, nullptr, false);
  return 0;
}

int HandleRefresh(Request& request) {
  qo::MsgWinRefresh refresh;
  for (const index::LocalTree& tree : index::LocalTree::All()) refresh.add_local_tree_ids(tree.Id());
  if (refresh.local_tree_ids_size() > 0) {
    protocol::PushOnce(request.peer.zmq, protocol::endpoints::kRefresher, qo::MC_WIN_REFRESH, &refresh);
  }
  request.answer.Send(qo::MC_REFRESH_RESPONSE, nullptr, false);
  return 0;
}

int HandleDatabaseClear(Request& request) {
  store::COperationList batch;
  device::ForgetOtherDevices(batch, request.config->deviceUuid);
  store::AppendClearSyncState(batch);
  CContentResolver::Instance().ApplyBatch(store::kAuthority, batch);
  LOG(WARNING) << "Database cleared on request of this device's tools";
  request.answer.Send(qo::MC_DATABASE_CLEAR_RESPONSE, nullptr, false);
  return 0;
}

}  // namespace morvex::peer
