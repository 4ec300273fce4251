#include <glog/logging.h>

#include <algorithm>
#include <cstring>

#include "index/Listing.h"
#include "index/Tree.h"
#include "peer/Relations.h"
#include "peer/RequestHandlers.h"
#include "protocol/Identity.h"
#include "protocol/MessageLimits.h"

namespace morvex::peer {

int HandleFind(Request& request) {
  qo::MsgFindRequest find;
  if (!request.Parse(find)) return qo::ZE_BAD_FORMAT;
  if (!protocol::IsValidUuid(find.sync_uuid()) || !protocol::IsValidUuid(find.tree_uuid())) return qo::ZE_BAD_UUID;
  const index::LocalTree tree = index::LocalTree::ByUuid(find.tree_uuid());
  if (!tree.Valid()) return qo::ZE_NOENT;
  const std::string& root = tree.Root();
  if (tree.SyncUuid() != find.sync_uuid()) return qo::ZE_SYNCDIR_MISMATCH;

  qo::MsgFindResponse response;
  response.add_uuids(find.tree_uuid());
  for (std::string& uuid : index::ClockUuids(tree.Id())) response.add_uuids(std::move(uuid));

  // The limit is the requester's wish, held to the page size a pass asks
  // for: no limit, or a larger one, would make us build the whole tree's
  // listing in memory for one answer. The requester pages by the largest
  // usn it has seen.
  const int32_t limit = find.limit() > 0 ? std::min(find.limit(), protocol::limits::kListingPageRecords)
                                         : protocol::limits::kListingPageRecords;
  for (index::ListedRecord& record : index::RecordsSince(tree.Id(), root, find.since(), limit)) {
    qo::Stat& stat = *response.add_stats();
    std::string relative = record.path.size() > root.size() ? record.path.substr(root.size()) : "/";
    if (relative.empty() || relative[0] != '/') relative.insert(relative.begin(), '/');
    stat.set_path(relative);
    stat.set_type(record.type == qo::DIR ? qo::DIR : qo::REG);
    stat.set_status(record.status == qo::NORMAL ? qo::NORMAL : qo::REMOVED);
    stat.set_length(record.length);
    stat.set_mtime(record.mtime);
    stat.set_sha1(std::move(record.sha1));
    stat.set_modifier(record.modifier);
    for (const int32_t component : record.clock.Data()) stat.add_vclock(component);
    stat.set_usn(record.usn);
    if (record.winAttr != 0 && record.winAttr != 16) stat.set_win_attr(record.winAttr);
    if (record.unixAttr != 0) stat.set_unix_attr(record.unixAttr);
    if (record.androidAttr != 0) stat.set_android_attr(record.androidAttr);
  }
  request.answer.Send(qo::MC_FIND_RESPONSE, &response, false);
  return 0;
}

int HandleStatus(Request& request) {
  qo::MsgStatusRequest status;
  if (!request.Parse(status)) {
    LOG(WARNING) << "Bad data format for MsgStatusRequest";
    return qo::ZE_BAD_FORMAT;
  }
  // Only the relations with the verified sender: the body's device is the
  // sender's claim and would let any trusted peer read our relations with
  // every other device.
  std::vector<RelationInfo> relations;
  if (!ListRelationInfos(RelationsWithDevice(request.SenderUuid()), WithPeerName::kYes, relations)) {
    // An empty list would tell the peer that we keep no relation with it,
    // and it would delete its side of each.
    LOG(ERROR) << "Cannot read the relations with " << request.SenderUuid();
    return qo::ZE_SQLITE;
  }
  qo::MsgStatusResponse response;
  for (RelationInfo& relation : relations) *response.add_syncs() = std::move(relation.info);
  request.answer.Send(qo::MC_STATUS_RESPONSE, &response, false);
  return 0;
}

}  // namespace morvex::peer
