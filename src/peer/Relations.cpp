#include "peer/Relations.h"

#include <glog/logging.h>

#include <vector>

#include "Morvex.pb.h"
#include "device/DeviceQueries.h"
#include "index/Tree.h"
#include "peer/DeviceChannel.h"
#include "protocol/ErrorText.h"
#include "store/ContentResolver.h"

namespace morvex::peer {

using store::CContentResolver;
using store::CSelection;
namespace uris = store::uris;

namespace {
constexpr int kUnlinkWaitMs = 1000;
}

std::string PeerDeviceName(const std::string& uuid) {
  std::string name;
  if (!device::DeviceName(uuid, name)) {
    name = "Unknown";
  }
  return name;
}

CSelection RelationsWithDevice(const std::string& deviceUuid) {
  return CSelection("peer_device_uuid = ? ").AddString(deviceUuid);
}

CSelection RelationsWithDevices(const google::protobuf::RepeatedPtrField<std::string>& deviceUuids) {
  std::string clause;
  if (!deviceUuids.empty()) {
    clause = "peer_device_uuid IN (";
    for (int i = 0; i < deviceUuids.size(); ++i) clause += i == 0 ? "?" : ", ?";
    clause += ") ";
  }
  CSelection selection = CSelection::FromClause(clause);
  for (const std::string& uuid : deviceUuids) selection.AddString(uuid);
  return selection;
}

bool ListRelationInfos(const CSelection& selection, WithPeerName name, std::vector<RelationInfo>& out) {
  auto rows = CContentResolver::Instance().Query(
      uris::SyncDir(), {"id", "tree_uuid", "peer_tree_uuid", "peer_device_uuid", "peer_tree_root"}, selection);
  if (!rows) return false;
  while (rows->MoveToNext()) {
    RelationInfo& relation = out.emplace_back();
    relation.syncId = rows->GetInt("id");
    qo::SyncInfo& info = relation.info;
    info.set_local_tree_uuid(std::string(rows->GetString("tree_uuid")));
    info.set_remote_tree_uuid(std::string(rows->GetString("peer_tree_uuid")));
    info.set_remote_device_uuid(std::string(rows->GetString("peer_device_uuid")));
    info.set_remote_tree_root(std::string(rows->GetString("peer_tree_root")));
    if (name == WithPeerName::kYes) info.set_remote_device_name(PeerDeviceName(info.remote_device_uuid()));
  }
  return !rows->Failed();
}

bool TreeHasRelations(const std::string& treeUuid) {
  return CContentResolver::Instance().QueryInt(uris::SyncDir(), "COUNT(*)", 0,
                                               CSelection("tree_uuid = ? ").AddString(treeUuid)) != 0;
}

int32_t CountSyncDirRows() {
  return CContentResolver::Instance().QueryInt(uris::SyncDir(), "COUNT(*)", 0, CSelection());
}

int32_t RelationIdBetween(const std::string& treeUuid, const std::string& peerTreeUuid) {
  return CContentResolver::Instance().QueryInt(
      uris::SyncDir(), "id", 0, CSelection("tree_uuid = ? AND peer_tree_uuid = ? ").AddString(treeUuid).AddString(peerTreeUuid));
}

int InsertRelation(const NewRelation& relation) {
  auto& resolver = CContentResolver::Instance();
  store::CContentValues row;
  row.PutInt("tree_id", relation.treeId)
      .PutString("peer_device_uuid", relation.peerDeviceUuid)
      .PutString("peer_tree_uuid", relation.peerTreeUuid)
      .PutString("peer_tree_root", relation.peerTreeRoot)
      .PutInt("clock", 1)
      .PutInt("peer_clock", 0)
      .PutString("creator", relation.creator)
      .PutExpression("ctime", "DATETIME('NOW')")
      .PutInt64("last_sync", 0);
  if (resolver.Insert(uris::Sync(), row, store::kConflictNone) > 0) return qo::ZE_SUCCESS;
  const int existing = resolver.QueryInt(uris::Sync(), "COUNT(*)", 0,
                                         CSelection("tree_id = ? AND peer_device_uuid = ? AND peer_tree_uuid = ? ")
                                             .AddInt(relation.treeId)
                                             .AddString(relation.peerDeviceUuid)
                                             .AddString(relation.peerTreeUuid));
  return existing > 0 ? qo::ZE_EXIST : qo::ZE_SQLITE;
}

int64_t DeleteRelationsBetween(int32_t treeId, const std::string& peerTreeUuid, const std::optional<std::string>& peerDeviceUuid) {
  CSelection selection = peerDeviceUuid ? CSelection("tree_id = ? AND peer_tree_uuid = ? AND peer_device_uuid = ? ")
                                                   : CSelection("tree_id = ? AND peer_tree_uuid = ? ");
  selection.AddInt(treeId).AddString(peerTreeUuid);
  if (peerDeviceUuid) selection.AddString(*peerDeviceUuid);
  return CContentResolver::Instance().Delete(uris::Sync(), selection);
}

void DeleteRelations(const std::vector<int32_t>& syncIds) {
  if (syncIds.empty()) return;
  std::string clause = "id IN (";
  for (size_t i = 0; i < syncIds.size(); ++i) clause += i == 0 ? "?" : ", ?";
  clause += ") ";
  CSelection selection = CSelection::FromClause(clause);
  for (const int32_t id : syncIds) selection.AddInt(id);
  CContentResolver::Instance().Delete(uris::Sync(), selection);
}

std::vector<int32_t> RelationIds(const CSelection& selection) {
  std::vector<int32_t> ids;
  auto rows = CContentResolver::Instance().Query(uris::Sync(), {"id"}, selection);
  while (rows && rows->MoveToNext()) ids.push_back(rows->GetInt("id"));
  return ids;
}

namespace {

const std::vector<std::string> kRelationColumns = {"id",     "tree_uuid", "tree_root", "sync_uuid", "tree_id",
                                                   "peer_device_uuid", "peer_tree_uuid", "peer_tree_root"};

Relation ReadRelation(const store::CSQLiteCursor& row) {
  Relation relation;
  relation.id = row.GetInt("id");
  relation.treeUuid = std::string(row.GetString("tree_uuid"));
  relation.treeRoot = std::string(row.GetString("tree_root"));
  relation.syncUuid = std::string(row.GetString("sync_uuid"));
  relation.treeId = row.GetInt("tree_id");
  relation.peerDeviceUuid = std::string(row.GetString("peer_device_uuid"));
  relation.peerTreeUuid = std::string(row.GetString("peer_tree_uuid"));
  relation.peerTreeRoot = std::string(row.GetString("peer_tree_root"));
  return relation;
}

}  // namespace

bool LoadRelation(int32_t syncId, Relation& relation) {
  auto row = CContentResolver::Instance().Query(uris::SyncDir(), kRelationColumns, CSelection("id = ? ").AddInt(syncId));
  if (!row || !row->MoveToNext()) {
    LOG(ERROR) << "inexisted sync id: " << syncId;
    return false;
  }
  relation = ReadRelation(*row);
  return true;
}

std::optional<std::vector<Relation>> FindRelations(const RelationFilter& filter) {
  std::string clause;
  std::vector<const std::string*> values;
  for (const auto& [column, value] : {std::pair{"tree_uuid", &filter.treeUuid}, std::pair{"tree_root", &filter.treeRoot},
                                      std::pair{"peer_tree_uuid", &filter.peerTreeUuid},
                                      std::pair{"peer_device_uuid", &filter.peerDeviceUuid}}) {
    if (value->empty()) continue;
    clause += std::string(clause.empty() ? "" : " AND ") + column + " = ?";
    values.push_back(value);
  }
  CSelection selection = CSelection::FromClause(clause);
  for (const std::string* value : values) selection.AddString(*value);
  auto rows = CContentResolver::Instance().Query(uris::SyncDir(), kRelationColumns, selection, "id");
  if (!rows) return std::nullopt;
  std::vector<Relation> relations;
  while (rows->MoveToNext()) relations.push_back(ReadRelation(*rows));
  if (rows->Failed()) return std::nullopt;
  return relations;
}

int32_t RelationTreeId(int32_t syncId) {
  return CContentResolver::Instance().QueryInt(uris::Sync(), "tree_id", 0, CSelection("id = ? ").AddInt(syncId));
}

int32_t FirstRelationOfSync(const std::string& syncUuid) {
  return CContentResolver::Instance().QueryInt(uris::SyncDir(), "id", 0,
                                               CSelection("sync_uuid = ? ").AddString(syncUuid));
}

void ObserveRelations(store::CContentObserver* observer) {
  CContentResolver::Instance().RegisterObserver(uris::Sync(), false, observer);
}

void StopObservingRelations(store::CContentObserver* observer) {
  CContentResolver::Instance().UnregisterObserver(uris::Sync(), observer);
}

bool UnlinkPeerFromThis(PeerContext& peer, const Relation& relation) {
  protocol::PeerChannel channel = OpenDeviceChannel(peer, relation.peerDeviceUuid, PeerKey::kTrusted);
  if (!channel.HasRoute()) {
    LOG(WARNING) << "empty route_uri, may be device off line";
    return false;
  }
  qo::MsgSyncDeleteRequest remove;
  remove.set_local_tree_uuid(relation.peerTreeUuid);
  remove.set_remote_tree_uuid(relation.treeUuid);
  const protocol::PeerReply answer = channel.Ask(qo::MC_SYNC_DELETE_REQUEST, &remove, kUnlinkWaitMs);
  if (!answer.answered()) {
    LOG(WARNING) << "Failed to receive Msg.";
    return false;
  }
  if (answer.refused()) {
    LOG(WARNING) << "Failed to UnlinkPeerFromThis(): " << protocol::ErrorText(answer.peerError.value_or(qo::ZE_SUCCESS));
    return false;
  }
  return true;
}

bool DeleteSync(PeerContext& peer, int32_t syncId) {
  Relation relation;
  if (!LoadRelation(syncId, relation)) return false;
  UnlinkPeerFromThis(peer, relation);
  return CContentResolver::Instance().Delete(uris::Sync(), CSelection("id = ? ").AddInt(syncId)) == 1;
}

int DeleteTreeWithRelations(PeerContext& peer, const std::string& treeUuid) {
  const index::LocalTree tree = index::LocalTree::ByUuid(treeUuid);
  if (!tree.Valid()) return qo::ZE_NOENT;
  for (const int32_t id : RelationIds(CSelection("tree_id = ? ").AddInt(tree.Id()))) {
    Relation relation;
    if (LoadRelation(id, relation)) UnlinkPeerFromThis(peer, relation);
  }
  // The relations go with their tree; the index knows nothing of them.
  CContentResolver::Instance().Delete(uris::Sync(), CSelection("tree_id = ? ").AddInt(tree.Id()));
  const int result = index::DeleteTree(tree);
  if (result == qo::ZE_SUCCESS && peer.onTreeDeleted) peer.onTreeDeleted(tree.Root());
  return result;
}

}  // namespace morvex::peer
