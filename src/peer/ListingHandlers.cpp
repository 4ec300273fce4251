#include <glog/logging.h>

#include <algorithm>
#include <cstring>

#include "index/Tree.h"
#include "peer/Relations.h"
#include "peer/RequestHandlers.h"
#include "protocol/Identity.h"
#include "protocol/MessageLimits.h"
#include "store/ContentResolver.h"

namespace morvex::peer {

using store::CContentResolver;
using store::CSelection;
namespace uris = store::uris;

int HandleFind(Request& request) {
  qo::MsgFindRequest find;
  if (!request.Parse(find)) return qo::ZE_BAD_FORMAT;
  if (!protocol::IsValidUuid(find.sync_uuid()) || !protocol::IsValidUuid(find.tree_uuid())) return qo::ZE_BAD_UUID;
  auto& resolver = CContentResolver::Instance();
  const index::LocalTree tree = index::LocalTree::ByUuid(find.tree_uuid());
  if (!tree.Valid()) return qo::ZE_NOENT;
  const int32_t treeId = tree.Id();
  const std::string& root = tree.Root();
  if (tree.SyncUuid() != find.sync_uuid()) return qo::ZE_SYNCDIR_MISMATCH;

  qo::MsgFindResponse response;
  response.add_uuids(find.tree_uuid());
  auto clocks = resolver.Query(uris::VCUuid(), {"clock_uuid"}, CSelection("tree_id = ? ").AddInt(treeId),
                               "clock_index ASC ");
  while (clocks && clocks->MoveToNext()) response.add_uuids(std::string(clocks->GetString(0)));

  // Ascending usn, cut at the requested limit: the requester pages by the
  // largest usn it has seen. The limit is the requester's wish, held to the
  // page size a pass asks for: no limit, or a larger one, would make us
  // build the whole tree's listing in memory for one answer.
  const int32_t limit = find.limit() > 0 ? std::min(find.limit(), protocol::limits::kListingPageRecords)
                                         : protocol::limits::kListingPageRecords;
  auto rows = resolver.Query(uris::File(),
                             {"path", "type", "status", "length", "mtime", "sha1", "modifier", "local_clock",
                              "other_clock", "usn", "win_attr", "unix_attr", "andr_attr"},
                             CSelection("(path != ? ) AND (usn > ? ) AND (tree_id = ? ) ")
                                 .AddString(root)
                                 .AddInt64(find.since())
                                 .AddInt(treeId),
                             "usn ASC ");
  // Records removed together share one usn. A page never ends inside such
  // a group: the requester asks for "usn > largest seen" next, so the rest
  // of a cut group would never be listed.
  int64_t lastUsn = -1;
  while (rows && rows->MoveToNext()) {
    if (response.stats_size() >= limit && rows->GetInt64(9) != lastUsn) break;
    lastUsn = rows->GetInt64(9);
    qo::Stat& stat = *response.add_stats();
    const std::string_view path = rows->GetString(0);
    std::string relative = path.size() > root.size() ? std::string(path.substr(root.size())) : "/";
    if (relative.empty() || relative[0] != '/') relative.insert(relative.begin(), '/');
    stat.set_path(relative);
    stat.set_type(rows->GetInt(1) == qo::DIR ? qo::DIR : qo::REG);
    stat.set_status(rows->GetInt(2) == qo::NORMAL ? qo::NORMAL : qo::REMOVED);
    stat.set_length(rows->GetInt64(3));
    stat.set_mtime(rows->GetInt64(4));
    stat.set_sha1(std::string(rows->GetString(5)));
    stat.set_modifier(rows->GetInt(6));
    stat.add_vclock(rows->GetInt(7));
    const auto* blob = static_cast<const unsigned char*>(rows->GetBlob(8));
    const int bytes = rows->GetBytes(8);
    for (int i = 0; blob != nullptr && i + 4 <= bytes; i += 4) {
      const uint32_t value = static_cast<uint32_t>(blob[i]) | static_cast<uint32_t>(blob[i + 1]) << 8 |
                             static_cast<uint32_t>(blob[i + 2]) << 16 | static_cast<uint32_t>(blob[i + 3]) << 24;
      stat.add_vclock(static_cast<int32_t>(value));
    }
    stat.set_usn(rows->GetInt64(9));
    if (const int win = rows->GetInt(10); win != 0 && win != 16) stat.set_win_attr(win);
    if (const int unixAttr = rows->GetInt(11); unixAttr != 0) stat.set_unix_attr(unixAttr);
    if (const int android = rows->GetInt(12); android != 0) stat.set_android_attr(android);
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
