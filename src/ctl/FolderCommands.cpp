#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "core/Text.h"
#include "ctl/CommandContext.h"
#include "ctl/Json.h"
#include "device/DeviceQueries.h"
#include "peer/Relations.h"
#include "protocol/Identity.h"

namespace morvex::ctl {
namespace {

Entry TreeEntry(const std::string& treeUuid, const std::string& syncUuid, const std::string& root) {
  return {{"tree_uuid", treeUuid}, {"sync_uuid", syncUuid}, {"root", root}};
}

void PrintTrees(Context& context, const qo::MsgTreeShowResponse& trees) {
  std::vector<Entry> entries;
  for (const qo::TreeInfo& tree : trees.trees()) {
    entries.push_back(TreeEntry(tree.tree_uuid(), tree.sync_uuid(), tree.tree_root()));
  }
  PrintListing(context, TreeEntry({}, {}, {}), entries);
}

const qo::TreeInfo* TreeAt(const qo::MsgTreeShowResponse& trees, const std::string& root) {
  for (const qo::TreeInfo& tree : trees.trees()) {
    if (tree.tree_root() == root) return &tree;
  }
  return nullptr;
}

CtlAnswer LocalTrees(Context& context, qo::MsgTreeShowResponse& trees) {
  return Parsed(context.client->Request(qo::MC_TREE_SHOW_REQUEST, nullptr), trees);
}

// A refused tree add: the sentence of its code, which a peer's refusal
// may have replaced with the desktop interface's words.
CtlAnswer ExplainTreeAdd(CtlAnswer answer, const std::string& device = core::Tr("this device")) {
  if (answer.error == qo::ZE_NESTED_TREE || answer.error == qo::ZE_PERMISSION_DENY) {
    answer.message = ErrorSentence(answer.error, {.peer = device});
  }
  return answer;
}

// A device this device knows, with what it takes to send it requests.
std::optional<PeerDevice> ResolvePeer(Context& context, const std::string& wanted, int& status) {
  const std::optional<std::string> uuid = ResolveDevice(context, wanted, status);
  if (!uuid) return std::nullopt;
  std::string error;
  std::optional<PeerDevice> peer = ReadPeerDevice(context.invocation.metadir, *uuid, error);
  if (!peer) status = context.Fail(error);
  return peer;
}

// The peer's trees; a failure carries the whole message to print.
CtlAnswer RemoteTrees(Context& context, const PeerDevice& peer, qo::MsgTreeShowResponse& trees) {
  CtlAnswer answer =
      Parsed(context.client->RequestPeer(peer, qo::MC_TREE_SHOW_REQUEST, nullptr, CtlClient::kPeerListWaitMs), trees);
  if (answer.status == kExitOk) return answer;
  if (answer.error == qo::ZE_UNTRUSTED) {
    answer.message = core::Tr("the other device does not trust this device");
  } else if (answer.error == qo::ZE_PERMISSION_DENY) {
    answer.message = core::Tr("permission denied");
  } else {
    answer.message = core::Tr("could not get the sync folder information") +
                     (answer.error != 0 ? ": " + answer.message : std::string());
  }
  answer.error = 0;
  return answer;
}

using Relations = std::vector<peer::Relation>;

// The relations `filter` chooses, in id order.
std::optional<Relations> ReadRelations(Context& context, const peer::RelationFilter& filter, int& status) {
  std::string error;
  if (!OpenLocalDatabase(context.invocation.metadir, error)) {
    status = context.Fail(error);
    return std::nullopt;
  }
  std::optional<Relations> relations = peer::FindRelations(filter);
  if (!relations) status = context.Fail(LocalDatabaseUnreadable(context.invocation.metadir));
  return relations;
}

Entry RelationEntry(const peer::Relation& relation, const std::string& deviceName) {
  return {{"id", std::to_string(relation.id), true},
          {"local_tree_uuid", relation.treeUuid},
          {"local_root", relation.treeRoot},
          {"device_uuid", relation.peerDeviceUuid},
          {"device_name", deviceName},
          {"remote_tree_uuid", relation.peerTreeUuid},
          {"remote_root", relation.peerTreeRoot}};
}

std::vector<Entry> RelationEntries(const Relations& relations) {
  std::vector<Entry> entries;
  for (const peer::Relation& relation : relations) {
    std::string deviceName;  // empty for a device no longer known
    device::DeviceName(relation.peerDeviceUuid, deviceName);
    entries.push_back(RelationEntry(relation, deviceName));
  }
  return entries;
}

// The service deletes the relation and tells the peer to drop its side.
CtlAnswer DeleteRelation(Context& context, int32_t id) {
  qo::MsgWinSyncDeleteRequest remove;
  remove.set_sync_id(id);
  return context.client->Request(qo::MC_WIN_SYNC_DELETE_REQUEST, &remove);
}

int AddFolder(Context& context, const std::string& path) {
  if (path.empty()) return context.Fail(core::Tr("choose a folder"));
  const std::string root = AbsolutePath(path);
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) {
    return context.Fail(core::Tr("the path is not a folder: a sync folder must be a folder on this computer"));
  }
  qo::MsgTreeAddRequest add;
  add.set_sync_uuid(protocol::NewUuid());
  add.set_tree_root(root);
  add.set_tree_uuid(protocol::NewUuid());
  qo::MsgTreeAddResponse added;
  if (CtlAnswer answer = Parsed(context.client->Request(qo::MC_TREE_ADD_REQUEST, &add), added);
      answer.status != kExitOk) {
    return context.Fail(ExplainTreeAdd(answer), core::Tr("could not create the sync folder"));
  }
  Print(context, {TreeEntry(added.tree_uuid(), add.sync_uuid(), root)}, false);
  return kExitOk;
}

int RemoveFolder(Context& context, const std::string& path) {
  qo::MsgTreeShowResponse trees;
  if (CtlAnswer answer = LocalTrees(context, trees); answer.status != kExitOk) return context.Fail(answer);
  const std::string root = AbsolutePath(path);
  const qo::TreeInfo* tree = TreeAt(trees, root);
  if (tree == nullptr) return context.Fail(NotASyncFolder(root));
  int status = kExitOk;
  const std::optional<Relations> relations = ReadRelations(context, {.treeUuid = tree->tree_uuid()}, status);
  if (!relations) return status;
  // The service refuses to delete a tree that still has relations.
  for (const peer::Relation& relation : *relations) {
    CtlAnswer answer = DeleteRelation(context, relation.id);
    if (answer.status != kExitOk && answer.error != qo::ZE_NOENT) return context.Fail(answer);
  }
  qo::MsgTreeDeleteRequest remove;
  remove.set_tree_uuid(tree->tree_uuid());
  if (CtlAnswer answer = context.client->Request(qo::MC_TREE_DELETE_REQUEST, &remove); answer.status != kExitOk) {
    return context.Fail(answer);
  }
  if (context.invocation.json) {
    Print(context, {TreeEntry(tree->tree_uuid(), tree->sync_uuid(), tree->tree_root())}, false);
  }
  return kExitOk;
}

// The peer's tree named by its UUID, a unique UUID prefix or its root.
const qo::TreeInfo* FindRemoteTree(const qo::MsgTreeShowResponse& trees, const std::string& wanted) {
  std::vector<const qo::TreeInfo*> byPrefix;
  for (const qo::TreeInfo& tree : trees.trees()) {
    if (tree.tree_uuid() == wanted || tree.tree_root() == wanted) return &tree;
    if (!wanted.empty() && tree.tree_uuid().rfind(wanted, 0) == 0) byPrefix.push_back(&tree);
  }
  return byPrefix.size() == 1 ? byPrefix.front() : nullptr;
}

// A relation recorded now or before: linking twice is harmless.
bool Recorded(const CtlAnswer& answer) { return answer.status == kExitOk || answer.error == qo::ZE_EXIST; }

}  // namespace

int ShowFolders(Context& context) {
  qo::MsgTreeShowResponse trees;
  if (CtlAnswer answer = LocalTrees(context, trees); answer.status != kExitOk) return context.Fail(answer);
  PrintTrees(context, trees);
  return kExitOk;
}

int Folder(Context& context) {
  const auto& words = context.invocation.words;
  if (words[1] == "add") return AddFolder(context, words[2]);
  return RemoveFolder(context, words[2]);  // the only other verb the dispatch lets through
}

int ShowRemoteFolders(Context& context) {
  int status = kExitOk;
  const std::optional<PeerDevice> peer = ResolvePeer(context, context.invocation.words[1], status);
  if (!peer) return status;
  qo::MsgTreeShowResponse trees;
  if (CtlAnswer answer = RemoteTrees(context, *peer, trees); answer.status != kExitOk) return context.Fail(answer);
  PrintTrees(context, trees);
  return kExitOk;
}

int ShowRemoteRoots(Context& context) {
  int status = kExitOk;
  const std::optional<PeerDevice> peer = ResolvePeer(context, context.invocation.words[1], status);
  if (!peer) return status;
  qo::MsgListRootResponse roots;
  if (CtlAnswer answer = Parsed(
          context.client->RequestPeer(*peer, qo::MC_LIST_ROOT_REQUEST, nullptr, CtlClient::kPeerListWaitMs), roots);
      answer.status != kExitOk) {
    return context.Fail(answer);
  }
  std::vector<Entry> entries;
  for (const qo::Root& root : roots.roots()) {
    entries.push_back({{"type", qo::RootType_Name(root.type())}, {"path", root.target()}, {"label", root.udata()}});
  }
  Print(context, entries);
  return kExitOk;
}

int ShowRemoteListing(Context& context) {
  int status = kExitOk;
  const std::optional<PeerDevice> peer = ResolvePeer(context, context.invocation.words[1], status);
  if (!peer) return status;
  qo::MsgListRequest list;
  list.set_root(context.invocation.words[2]);  // a path on the peer: taken as it is
  qo::MsgListResponse listing;
  if (CtlAnswer answer =
          Parsed(context.client->RequestPeer(*peer, qo::MC_LIST_REQUEST, &list, CtlClient::kPeerListWaitMs), listing);
      answer.status != kExitOk) {
    return context.Fail(answer);
  }
  std::vector<Entry> entries;
  for (const qo::FileStat& stat : listing.stats()) {
    entries.push_back({{"name", stat.name()},
                       {"type", qo::FileType_Name(stat.type())},
                       {"length", std::to_string(stat.length()), true},
                       {"mtime", std::to_string(stat.mtime()), true}});
  }
  Print(context, entries);
  return kExitOk;
}

int AddRemoteFolder(Context& context) {
  const auto& words = context.invocation.words;
  int status = kExitOk;
  const std::optional<PeerDevice> peer = ResolvePeer(context, words[2], status);
  if (!peer) return status;
  qo::MsgTreeAddRequest add;
  add.set_sync_uuid(protocol::NewUuid());
  add.set_tree_root(words[3]);
  qo::MsgTreeAddResponse added;
  if (CtlAnswer answer = Parsed(
          context.client->RequestPeer(*peer, qo::MC_TREE_ADD_REQUEST, &add, CtlClient::kPeerListWaitMs), added);
      answer.status != kExitOk) {
    if (answer.error == qo::ZE_UNTRUSTED) return context.Fail(answer);
    if (answer.error == qo::ZE_PERMISSION_DENY || answer.error == qo::ZE_NESTED_TREE) {
      return context.Fail(ExplainTreeAdd(answer, peer->name));
    }
    return context.Fail(answer, core::Tr("invalid folder name"));
  }
  Print(context, {TreeEntry(added.tree_uuid(), add.sync_uuid(), add.tree_root())}, false);
  return kExitOk;
}

int Link(Context& context) {
  const auto& words = context.invocation.words;
  int status = kExitOk;
  const std::optional<PeerDevice> peer = ResolvePeer(context, words[1], status);
  if (!peer) return status;
  qo::MsgTreeShowResponse remoteTrees;
  if (CtlAnswer answer = RemoteTrees(context, *peer, remoteTrees); answer.status != kExitOk) {
    return context.Fail(answer);
  }
  const qo::TreeInfo* remote = FindRemoteTree(remoteTrees, words[2]);
  if (remote == nullptr) return context.Fail(core::Tr("choose a sync folder"));

  const std::string root = AbsolutePath(words[3]);
  qo::MsgTreeShowResponse localTrees;
  if (CtlAnswer answer = LocalTrees(context, localTrees); answer.status != kExitOk) return context.Fail(answer);
  std::string localTree;
  if (const qo::TreeInfo* existing = TreeAt(localTrees, root)) {
    if (existing->sync_uuid() != remote->sync_uuid()) {
      return context.Fail(core::Tr("the chosen folder already syncs with another sync folder"));
    }
    localTree = existing->tree_uuid();
  } else {
    qo::MsgTreeAddRequest add;
    add.set_sync_uuid(remote->sync_uuid());
    add.set_tree_root(root);
    add.set_tree_uuid(protocol::NewUuid());
    if (CtlAnswer answer = context.client->Request(qo::MC_TREE_ADD_REQUEST, &add); answer.status != kExitOk) {
      return context.Fail(ExplainTreeAdd(answer), core::Tr("could not set up the local copy of the sync folder"));
    }
    localTree = add.tree_uuid();
  }

  // The peer may have gone since it listed its folders.
  std::string error;
  const std::optional<PeerDevice> current = ReadPeerDevice(context.invocation.metadir, peer->uuid, error);
  if (!current || !current->online) return context.Fail(kExitPeerUnreachable, core::Tr(CtlClient::kPeerOffline));
  // The peer first: a relation it refused must not exist here, where the
  // syncer would keep asking it for files.
  qo::MsgSyncAddRequest onPeer;
  onPeer.set_local_tree_uuid(remote->tree_uuid());
  onPeer.set_remote_sync_uuid(remote->sync_uuid());
  onPeer.set_remote_tree_uuid(localTree);
  onPeer.set_remote_tree_root(root);
  onPeer.set_remote_device_uuid(context.client->Identity().uuid);
  if (CtlAnswer answer =
          context.client->RequestPeer(*current, qo::MC_SYNC_ADD_REQUEST, &onPeer, CtlClient::kPeerSyncAddWaitMs);
      !Recorded(answer)) {
    return context.Fail(answer, core::Tr("could not create the sync folder"));
  }
  qo::MsgSyncAddRequest here;
  here.set_local_tree_uuid(localTree);
  here.set_remote_sync_uuid(remote->sync_uuid());
  here.set_remote_tree_uuid(remote->tree_uuid());
  here.set_remote_tree_root(remote->tree_root());
  here.set_remote_device_uuid(current->uuid);
  if (CtlAnswer answer = context.client->Request(qo::MC_SYNC_ADD_REQUEST, &here); !Recorded(answer)) {
    return context.Fail(answer, core::Tr("could not create the sync folder"));
  }
  qo::MsgSyncOnceRequest once;
  once.set_local_tree_uuid(localTree);
  once.set_remote_tree_uuid(remote->tree_uuid());
  if (CtlAnswer answer = context.client->Request(qo::MC_SYNC_ONCE_REQUEST, &once); answer.status != kExitOk) {
    return context.Fail(answer);
  }
  const std::optional<Relations> relations = ReadRelations(
      context, {.treeUuid = localTree, .peerTreeUuid = remote->tree_uuid(), .peerDeviceUuid = current->uuid}, status);
  if (!relations) return status;
  if (relations->size() != 1) return context.Fail(LinkNotRecorded());
  Print(context, RelationEntries(*relations), false);
  return kExitOk;
}

int Unlink(Context& context) {
  const auto& words = context.invocation.words;
  int status = kExitOk;
  const std::optional<std::string> device = ResolveDevice(context, words[2], status);
  if (!device) return status;
  const std::string root = AbsolutePath(words[1]);
  const std::optional<Relations> relations = ReadRelations(context, {.treeRoot = root, .peerDeviceUuid = *device}, status);
  if (!relations) return status;
  if (relations->empty()) return context.Fail(NotLinked(root, words[2]));
  for (const peer::Relation& relation : *relations) {
    if (CtlAnswer answer = DeleteRelation(context, relation.id); answer.status != kExitOk) return context.Fail(answer);
  }
  if (context.invocation.json) Print(context, RelationEntries(*relations));
  return kExitOk;
}

int ShowSyncs(Context& context) {
  int status = kExitOk;
  const std::optional<Relations> relations = ReadRelations(context, {}, status);
  if (!relations) return status;
  PrintListing(context, RelationEntry({}, {}), RelationEntries(*relations));
  return kExitOk;
}

namespace {

// A pass asked of an offline peer waits for it to come back: say so
// instead of reporting success.
int FailOfflinePeers(Context& context, const Relations& relations) {
  qo::MsgDeviceShowResponse devices;
  if (CtlAnswer answer = ListDevices(context, devices); answer.status != kExitOk) return context.Fail(answer);
  int status = kExitOk;
  std::set<std::string> told;
  for (const peer::Relation& relation : relations) {
    for (const qo::DeviceInfo& device : devices.devices()) {
      if (device.uuid() != relation.peerDeviceUuid || device.is_online() == qo::PB_TRUE) continue;
      if (told.insert(device.uuid()).second) {
        const std::string& name = device.name().empty() ? device.uuid() : device.name();
        status = context.Fail(kExitPeerUnreachable, PeerUnreachable(name));
      }
    }
  }
  return status;
}

}  // namespace

int SyncNow(Context& context) {
  const auto& words = context.invocation.words;
  const bool one = words.size() == 2;
  const std::string root = one ? AbsolutePath(words[1]) : std::string();
  int status = kExitOk;
  const std::optional<Relations> relations = ReadRelations(context, {.treeRoot = root}, status);
  if (!relations) return status;
  if (one && relations->empty()) return context.Fail(NoLinks(root));
  // Every relation gets its pass, whatever happened to the others.
  for (const peer::Relation& relation : *relations) {
    qo::MsgSyncOnceRequest once;
    once.set_local_tree_uuid(relation.treeUuid);
    once.set_remote_tree_uuid(relation.peerTreeUuid);
    if (CtlAnswer answer = context.client->Request(qo::MC_SYNC_ONCE_REQUEST, &once); answer.status != kExitOk) {
      status = context.Fail(answer);
    }
  }
  if (status == kExitOk) status = FailOfflinePeers(context, *relations);
  if (status == kExitOk && context.invocation.json) Print(context, RelationEntries(*relations));
  return status;
}

int Rescan(Context& context) {
  const qo::MsgRefreshRequest refresh;
  if (CtlAnswer answer = context.client->Request(qo::MC_REFRESH_REQUEST, &refresh); answer.status != kExitOk) {
    return context.Fail(answer);
  }
  if (context.invocation.json) context.out << "{\"done\": \"rescan\"}\n";
  return kExitOk;
}

}  // namespace morvex::ctl
