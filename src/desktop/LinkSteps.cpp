#include "desktop/LinkSteps.h"

#include <glog/logging.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "Morvex.pb.h"
#include "desktop/Strings.h"
#include "device/Device.h"
#include "index/Tree.h"
#include "protocol/Identity.h"

namespace morvex::desktop {

std::string LastComponent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

RemoteFolders FetchRemoteFolders(ILinkRequests& requests, const LinkTarget& peer) {
  RemoteFolders result;
  const protocol::PeerReply reply = requests.Ask(peer, qo::MC_TREE_SHOW_REQUEST, nullptr, kListWaitMs);
  qo::MsgTreeShowResponse trees;
  if (reply.refused()) {
    const int error = reply.peerError.value_or(qo::ZE_GENERAL);
    result.failure = error == qo::ZE_UNTRUSTED         ? core::Tr(Str(144))
                     : error == qo::ZE_PERMISSION_DENY ? core::Tr(Str(147))
                                                       : core::Tr(Str(116));
    return result;
  }
  if (!reply.answered() || !trees.ParseFromString(reply.body)) {
    result.failure = core::Tr(Str(116));
    return result;
  }
  for (const qo::TreeInfo& tree : trees.trees()) {
    result.folders.push_back({LastComponent(tree.tree_root()), tree.tree_root(), tree.tree_uuid(), tree.sync_uuid()});
  }
  return result;
}

std::optional<LinkTarget> OnlinePeer(int32_t deviceId) {
  device::CDevice peer;
  if (!peer.LoadById(deviceId) || peer.online == 0 || peer.routeUri.empty()) return std::nullopt;
  return LinkTarget{peer.uuid, peer.routeUri};
}

LocalFolderVerdict CheckLocalFolder(const std::string& path, const std::string& remoteSyncUuid) {
  std::error_code error;
  if (path.empty() || !std::filesystem::is_directory(path, error)) return LocalFolderVerdict::kNotAFolder;
  const index::LocalTree tree = index::LocalTree::ByRoot(path);
  if (tree.Valid() && tree.SyncUuid() != remoteSyncUuid) return LocalFolderVerdict::kOtherSyncFolder;
  return LocalFolderVerdict::kUsable;
}

std::string LocalFolderNote(LocalFolderVerdict verdict, const std::string& path) {
  switch (verdict) {
    case LocalFolderVerdict::kNotAFolder:
      return core::Tr(Str(119));
    case LocalFolderVerdict::kOtherSyncFolder:
      return core::Tr(Str(118));
    case LocalFolderVerdict::kUsable:
      return path;
  }
  return path;
}

namespace {

int AnswerCode(const protocol::PeerReply& reply) {
  if (!reply.answered()) return qo::ZE_OPERATE_TIMEOUT;
  if (reply.refused()) return reply.peerError.value_or(qo::ZE_GENERAL);
  return 0;
}

// The own service makes the tree, as for the command-line client: it
// checks the folder, keeps its private folders out and starts watching the
// new tree at once.
int AddLocalTree(ILinkRequests& requests, const std::string& syncUuid, const std::string& root,
                 const std::string& treeUuid) {
  qo::MsgTreeAddRequest add;
  add.set_sync_uuid(syncUuid);
  add.set_tree_root(root);
  add.set_tree_uuid(treeUuid);
  const int code = AnswerCode(requests.Ask(requests.Own(), qo::MC_TREE_ADD_REQUEST, &add, kOwnWaitMs));
  LOG_IF(WARNING, code != 0) << "The service did not make a sync folder at " << root << " (error " << code << ")";
  return code;
}

}  // namespace

int LinkBothSides(ILinkRequests& requests, const LinkTarget& peer, const RemoteFolder& remote,
                  const std::string& localTreeUuid, const std::string& localRoot) {
  const LinkTarget own = requests.Own();
  // The peer first: a relation it refused must not exist here, where the
  // syncer would keep asking it for files.
  qo::MsgSyncAddRequest onPeer;
  onPeer.set_local_tree_uuid(remote.treeUuid);
  onPeer.set_remote_sync_uuid(remote.syncUuid);
  onPeer.set_remote_tree_uuid(localTreeUuid);
  onPeer.set_remote_tree_root(localRoot);
  onPeer.set_remote_device_uuid(own.uuid);
  if (const int code = AnswerCode(requests.Ask(peer, qo::MC_SYNC_ADD_REQUEST, &onPeer, kSyncAddWaitMs))) {
    LOG(WARNING) << "Device " << peer.uuid << " did not record the relation to tree " << remote.treeUuid
                 << " (error " << code << ")";
    return code;
  }
  qo::MsgSyncAddRequest here;
  here.set_local_tree_uuid(localTreeUuid);
  here.set_remote_sync_uuid(remote.syncUuid);
  here.set_remote_tree_uuid(remote.treeUuid);
  here.set_remote_tree_root(remote.root);
  here.set_remote_device_uuid(peer.uuid);
  if (const int code = AnswerCode(requests.Ask(own, qo::MC_SYNC_ADD_REQUEST, &here, kSyncAddWaitMs))) {
    LOG(WARNING) << "The service did not record the relation of tree " << localTreeUuid << " (error " << code
                 << ")";
    return code;
  }
  return 0;
}

std::string FinishLink(ILinkRequests& requests, int32_t deviceId, const RemoteFolder& remote,
                       const std::string& localPath) {
  std::string root = localPath;
  std::replace(root.begin(), root.end(), '\\', '/');
  std::string treeUuid;
  if (const index::LocalTree existing = index::LocalTree::ByRoot(root); existing.Valid()) {
    treeUuid = existing.TreeUuid();
  } else {
    treeUuid = protocol::NewUuid();
    if (AddLocalTree(requests, remote.syncUuid, root, treeUuid) != 0) return core::Tr(Str(120));
  }
  // The peer may have gone since it listed its folders.
  const std::optional<LinkTarget> peer = OnlinePeer(deviceId);
  if (!peer) return core::Tr(Str(121));
  if (LinkBothSides(requests, *peer, remote, treeUuid, root) != 0) return core::Tr(Str(122));
  return {};
}

std::string FinishNewSyncFolder(ILinkRequests& requests, const std::string& path, bool& stay) {
  stay = true;
  if (path.empty()) return core::Tr(Str(125));
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) return core::Tr(Str(126));
  stay = false;
  if (AddLocalTree(requests, protocol::NewUuid(), path, protocol::NewUuid()) != 0) return core::Tr(Str(127));
  return {};
}

}  // namespace morvex::desktop
