#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Morvex.pb.h"
#include "peer/PeerContext.h"
#include "store/ContentObserver.h"
#include "store/ContentValues.h"

namespace morvex::peer {

// One relation (a row of Sync) as the sync engine and the administration
// requests see it: the local tree and the tree on the peer.
struct Relation {
  int32_t id = 0;
  std::string treeUuid;
  std::string treeRoot;
  std::string syncUuid;
  int32_t treeId = 0;
  std::string peerDeviceUuid;
  std::string peerTreeUuid;
  std::string peerTreeRoot;
};

// Which relations FindRelations lists: every non-empty field must match.
struct RelationFilter {
  std::string treeUuid = {};
  std::string treeRoot = {};
  std::string peerTreeUuid = {};
  std::string peerDeviceUuid = {};
};

// One relation as the answers about relations describe it: its local and
// remote trees (and the peer's name when asked for), with the Sync id the
// caller may add its own state by.
struct RelationInfo {
  int32_t syncId = 0;
  qo::SyncInfo info;
};

enum class WithPeerName { kNo, kYes };

// The name of a device, or "Unknown".
std::string PeerDeviceName(const std::string& uuid);

// Picks the relations with this peer device.
store::CSelection RelationsWithDevice(const std::string& deviceUuid);

// Picks the relations with any of these devices; all relations when none
// is named. The UUIDs come from requesters: each is a bound argument.
store::CSelection RelationsWithDevices(const google::protobuf::RepeatedPtrField<std::string>& deviceUuids);

// The relations that `selection` picks on SyncDir (all when empty), in the
// table's order; false when the query failed (the list is then incomplete).
bool ListRelationInfos(const store::CSelection& selection, WithPeerName name, std::vector<RelationInfo>& out);

// Whether any relation has this local tree.
bool TreeHasRelations(const std::string& treeUuid);

// The number of relations of every tree (rows of SyncDir), 0 when the
// query fails; the usage report sends it.
int32_t CountSyncDirRows();

// The Sync id of the relation between these trees; 0 when there is none.
int32_t RelationIdBetween(const std::string& treeUuid, const std::string& peerTreeUuid);

// The new relation a Sync row records. ZE_SUCCESS, ZE_EXIST when the same
// relation is already there, ZE_SQLITE otherwise.
struct NewRelation {
  int32_t treeId = 0;
  std::string peerDeviceUuid;
  std::string peerTreeUuid;
  std::string peerTreeRoot;
  std::string creator;
};
int InsertRelation(const NewRelation& relation);

// Deletes the relations of this local tree with that peer tree; with a
// peer device, only those with that device. The count of rows deleted.
int64_t DeleteRelationsBetween(int32_t treeId, const std::string& peerTreeUuid, const std::optional<std::string>& peerDeviceUuid);

// Deletes the relations with these Sync ids.
void DeleteRelations(const std::vector<int32_t>& syncIds);

// The ids of the Sync rows that `selection` picks (all when empty), read
// whole before the caller acts on them.
std::vector<int32_t> RelationIds(const store::CSelection& selection = store::CSelection());

// The relation with this Sync id; false when there is none.
bool LoadRelation(int32_t syncId, Relation& relation);

// The relations `filter` matches, in id order; nothing when the read failed.
std::optional<std::vector<Relation>> FindRelations(const RelationFilter& filter = {});

// The id of the local tree of this relation; 0 when there is no such relation.
int32_t RelationTreeId(int32_t syncId);

// The first relation (Sync id) of any local tree of this sync folder; 0
// when it has none.
int32_t FirstRelationOfSync(const std::string& syncUuid);

// Change notices of the Sync table (the relations), delivered to
// `observer` until it is taken off again.
void ObserveRelations(store::CContentObserver* observer);
void StopObservingRelations(store::CContentObserver* observer);

// Asks the peer to drop its side of the relation (MC_SYNC_DELETE_REQUEST,
// its view: its tree first). False when the peer is offline, silent for a
// second, or refuses.
bool UnlinkPeerFromThis(PeerContext& peer, const Relation& relation);

// Tells the peer, then deletes the local row whatever the peer said: a
// relation the user removed is gone here even when the peer is away (its
// status poll drops the peer's side later). True when the row was deleted.
bool DeleteSync(PeerContext& peer, int32_t syncId);

// Removes a local tree: each relation's peer is told to drop its side
// (offline peers drop theirs at their next status poll), then the tree and
// its relations and records go, and the bookmark with them. ZE_SUCCESS or
// ZE_NOENT.
int DeleteTreeWithRelations(PeerContext& peer, const std::string& treeUuid);

}  // namespace morvex::peer
