#include "ctl/Commands.h"

#include <getopt.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "ctl/CtlClient.h"
#include "ctl/Json.h"
#include "ctl/ServiceStatus.h"
#include "platform/Metadir.h"
#include "protocol/ErrorText.h"
#include "protocol/Identity.h"
#include "service/CommandLine.h"

namespace morvex::ctl {
namespace {

constexpr const char* kUsage =
    "usage: morvexctl [-m METADIR] [--json] COMMAND\n"
    "commands:\n"
    "  id                                   this device\n"
    "  devices                              the devices this device knows\n"
    "  trust request DEVICE [--timeout S]   ask DEVICE for trust (default 300 s)\n"
    "  trust accept DEVICE                  accept DEVICE's pending request\n"
    "  trust deny DEVICE                    refuse DEVICE's request, or cancel ours\n"
    "  trust revoke DEVICE                  end trust with DEVICE on both sides\n"
    "  folders                              this device's sync folders\n"
    "  folder add PATH                      make the folder PATH a new sync folder\n"
    "  folder remove PATH                   stop syncing the folder PATH, with all its links\n"
    "  remote-folders DEVICE                DEVICE's sync folders\n"
    "  remote-roots DEVICE                  where DEVICE's folders can be browsed from\n"
    "  remote-ls DEVICE PATH                the contents of DEVICE's folder PATH\n"
    "  remote-folder add DEVICE PATH        make DEVICE's folder PATH a new sync folder\n"
    "  link DEVICE REMOTE LOCAL_PATH        sync DEVICE's sync folder REMOTE (tree UUID or\n"
    "                                       root) with LOCAL_PATH here\n"
    "  unlink LOCAL_PATH DEVICE             stop syncing LOCAL_PATH with DEVICE\n"
    "  syncs                                the links of this device's sync folders\n"
    "  sync-now [LOCAL_PATH]                a sync pass now, for every link or LOCAL_PATH's\n"
    "  rescan                               look for changes in every sync folder now\n"
    "  status                               what the service is doing, per link and folder\n"
    "  wait [LOCAL_PATH] [--timeout S]      until nothing is pending (default 300 s; exit 4\n"
    "                                       when still busy)\n"
    "DEVICE is a full UUID, a unique UUID prefix or an exact device name.\n";

struct Invocation {
  std::string metadir;
  bool json = false;
  int timeout = 300;
  std::vector<std::string> words;
};

struct Context {
  Invocation invocation;
  std::ostream& out;
  std::ostream& err;
  std::optional<CtlClient> client;

  int Fail(const CtlAnswer& answer) {
    err << answer.message << "\n";
    return answer.status;
  }
  // What the other side answered, after `prefix`; other failures as they are.
  int Fail(const CtlAnswer& answer, std::string_view prefix) {
    if (answer.error != 0) err << prefix << ": ";
    return Fail(answer);
  }
  int Fail(std::string_view message) {
    err << message << "\n";
    return kExitServiceError;
  }
  int FailCode(int code) { return Fail(qo::ErrorCode_Name(code) + ": " + protocol::ErrorText(code)); }
  int Usage() {
    err << kUsage;
    return kExitUsage;
  }
};

std::optional<Invocation> Parse(const std::vector<std::string>& arguments, std::ostream& err) {
  enum { kJson = 1000, kTimeout };
  static const option kOptions[] = {{"metadir", required_argument, nullptr, 'm'},
                                    {"json", no_argument, nullptr, kJson},
                                    {"timeout", required_argument, nullptr, kTimeout},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  Invocation invocation;
  invocation.metadir = platform::DefaultMetadir();
  std::vector<std::string> words = arguments;
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  optind = 0;
  opterr = 0;
  int c;
  while ((c = getopt_long(static_cast<int>(words.size()), argv.data(), "m:h", kOptions, nullptr)) != -1) {
    switch (c) {
      case 'm': invocation.metadir = optarg; break;
      case kJson: invocation.json = true; break;
      case kTimeout: invocation.timeout = static_cast<int>(service::ParseOptionNumber(optarg)); break;
      default:
        err << kUsage;
        return std::nullopt;
    }
  }
  for (int i = optind; i < static_cast<int>(words.size()); ++i) invocation.words.emplace_back(argv[static_cast<size_t>(i)]);
  if (invocation.words.empty() || invocation.timeout <= 0) {
    err << kUsage;
    return std::nullopt;
  }
  return invocation;
}

const char* PairName(int pair) {
  switch (pair) {
    case qo::PAIR: return "PAIR";
    case qo::WAIT: return "WAIT";
    case qo::ACK: return "ACK";
    default: return "NONE";
  }
}

int ShowId(Context& context) {
  const LocalIdentity& id = context.client->Identity();
  if (context.invocation.json) {
    context.out << "{\"uuid\": " << JsonString(id.uuid) << ", \"name\": " << JsonString(id.name)
                << ", \"route_port\": " << id.routePort << ", \"pub_port\": " << id.pubPort
                << ", \"broadcast_port\": " << id.broadcastPort << "}\n";
  } else {
    context.out << "uuid:           " << id.uuid << "\nname:           " << id.name
                << "\nroute port:     " << id.routePort << "\npublish port:   " << id.pubPort
                << "\nbroadcast port: " << id.broadcastPort << "\n";
  }
  return kExitOk;
}

// The answer's body as `message`; an answer that does not parse is a failure.
CtlAnswer Parsed(CtlAnswer answer, google::protobuf::MessageLite& message) {
  if (answer.status == kExitOk && !message.ParseFromString(answer.body)) {
    answer.status = kExitServiceError;
    answer.message = "unreadable answer (code " + std::to_string(answer.code) + ")";
  }
  return answer;
}

// The device list of the local service; status and message on failure.
CtlAnswer ListDevices(Context& context, qo::MsgDeviceShowResponse& devices) {
  return Parsed(context.client->Request(qo::MC_DEVICE_SHOW_REQUEST, nullptr), devices);
}

int ShowDevices(Context& context) {
  qo::MsgDeviceShowResponse devices;
  if (CtlAnswer answer = ListDevices(context, devices); answer.status != kExitOk) return context.Fail(answer);
  if (context.invocation.json) {
    context.out << "[";
    for (int i = 0; i < devices.devices_size(); ++i) {
      const qo::DeviceInfo& d = devices.devices(i);
      context.out << (i == 0 ? "" : ", ") << "{\"uuid\": " << JsonString(d.uuid()) << ", \"name\": "
                  << JsonString(d.name()) << ", \"address\": " << JsonString(d.route_uri())
                  << ", \"type\": " << JsonString(qo::DeviceType_Name(d.type()))
                  << ", \"self\": " << JsonBool(d.is_self() == qo::PB_TRUE)
                  << ", \"trusted\": " << JsonBool(d.pair_status() == qo::PAIR)
                  << ", \"online\": " << JsonBool(d.is_online() == qo::PB_TRUE)
                  << ", \"pair\": " << JsonString(PairName(d.pair_status())) << "}";
    }
    context.out << "]\n";
    return kExitOk;
  }
  for (const qo::DeviceInfo& d : devices.devices()) {
    context.out << d.uuid() << "  " << PairName(d.pair_status()) << (d.is_online() == qo::PB_TRUE ? "  online " : "  offline")
                << (d.is_self() == qo::PB_TRUE ? "  (this device)" : "") << "  " << d.name() << "  " << d.route_uri()
                << "\n";
  }
  return kExitOk;
}

// A full UUID, a unique UUID prefix or an exact name.
std::optional<std::string> ResolveDevice(Context& context, const std::string& wanted, int& status) {
  qo::MsgDeviceShowResponse devices;
  if (CtlAnswer answer = ListDevices(context, devices); answer.status != kExitOk) {
    status = context.Fail(answer);
    return std::nullopt;
  }
  std::vector<std::string> byPrefix;
  std::vector<std::string> byName;
  for (const qo::DeviceInfo& d : devices.devices()) {
    if (d.uuid() == wanted) return d.uuid();
    if (d.uuid().rfind(wanted, 0) == 0) byPrefix.push_back(d.uuid());
    if (d.name() == wanted) byName.push_back(d.uuid());
  }
  const std::vector<std::string>& matches = byPrefix.size() == 1 || byName.empty() ? byPrefix : byName;
  if (matches.size() == 1) return matches.front();
  context.err << (matches.empty() ? "no such device: " : "more than one device matches: ") << wanted << "\n";
  status = kExitServiceError;
  return std::nullopt;
}

int Trust(Context& context) {
  const auto& words = context.invocation.words;
  int status = kExitOk;
  const std::optional<std::string> device = ResolveDevice(context, words[2], status);
  if (!device) return status;
  const std::string& verb = words[1];
  CtlAnswer answer;
  if (verb == "request") {
    qo::MsgLinuxTrustPublishRequest request;
    request.set_device_uuid(*device);
    request.set_timeout(context.invocation.timeout);
    answer = context.client->Request(qo::MC_LINUX_TRUST_PUBLISH_REQUEST, &request);
  } else if (verb == "accept") {
    qo::MsgLinuxTrustRequest request;
    request.set_device_uuid(*device);
    answer = context.client->Request(qo::MC_LINUX_TRUST_REQUEST, &request);
    qo::MsgLinuxTrustResponse result;
    if (answer.status == kExitOk && (!result.ParseFromString(answer.body) || result.trust_result() != qo::TRUST_ALLOW)) {
      answer.status = kExitServiceError;
      answer.message = "TRUST_DENY: the other device refused";
    }
  } else if (verb == "deny") {
    qo::MsgLinuxTrustCancelRequest request;
    request.set_device_uuid(*device);
    answer = context.client->Request(qo::MC_LINUX_TRUST_CANCEL_REQUEST, &request);
  } else if (verb == "revoke") {
    qo::MsgDistrustRequest request;
    request.set_device_uuid(*device);
    answer = context.client->Request(qo::MC_DISTRUST_REQUEST, &request);
  } else {
    return context.Usage();
  }
  if (answer.status != kExitOk) return context.Fail(answer);
  if (context.invocation.json) context.out << "{\"device\": " << JsonString(*device) << ", \"done\": " << JsonString(verb) << "}\n";
  return kExitOk;
}

// A path made absolute against the current folder, "." and ".." resolved
// by name and no trailing slash: the form the service keeps roots in. An
// empty path stays empty: it must not stand for the current folder.
std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  std::filesystem::path full(path);
  std::error_code error;
  if (full.is_relative()) full = std::filesystem::current_path(error) / full;
  std::string text = full.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// One entry of a listing: its fields in order. Printed as a JSON object, or
// as one line of tab-separated values.
struct Field {
  const char* key;
  std::string text;
  bool number = false;
};
using Entry = std::vector<Field>;

// With --json a list of objects, or the one entry as an object when not
// `list`: either way exactly one document.
void Print(Context& context, const std::vector<Entry>& entries, bool list = true) {
  if (!context.invocation.json) {
    for (const Entry& entry : entries) {
      for (size_t i = 0; i < entry.size(); ++i) context.out << (i == 0 ? "" : "\t") << entry[i].text;
      context.out << "\n";
    }
    return;
  }
  context.out << (list ? "[" : "");
  for (size_t e = 0; e < entries.size(); ++e) {
    context.out << (e == 0 ? "{" : ", {");
    for (size_t i = 0; i < entries[e].size(); ++i) {
      const Field& field = entries[e][i];
      context.out << (i == 0 ? "" : ", ") << JsonString(field.key) << ": "
                  << (field.number ? field.text : JsonString(field.text));
    }
    context.out << "}";
  }
  context.out << (list ? "]\n" : "\n");
}

Entry TreeEntry(const std::string& treeUuid, const std::string& syncUuid, const std::string& root) {
  return {{"tree_uuid", treeUuid}, {"sync_uuid", syncUuid}, {"root", root}};
}

void PrintTrees(Context& context, const qo::MsgTreeShowResponse& trees) {
  std::vector<Entry> entries;
  for (const qo::TreeInfo& tree : trees.trees()) {
    entries.push_back(TreeEntry(tree.tree_uuid(), tree.sync_uuid(), tree.tree_root()));
  }
  Print(context, entries);
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
    answer.message = "对方设备不信任当前设备";
  } else if (answer.error == qo::ZE_PERMISSION_DENY) {
    answer.message = "权限不足";
  } else {
    answer.message = "请求同步目录信息失败" + (answer.error != 0 ? ": " + answer.message : std::string());
  }
  answer.error = 0;
  return answer;
}

// The relations of the SyncDir view with the peer's name, `where` (with
// `args`) choosing which.
std::optional<DbRows> ReadRelations(Context& context, const std::string& where, const std::vector<std::string>& args,
                                    int& status) {
  std::string error;
  std::optional<DbRows> rows = QueryLocalDb(
      context.invocation.metadir,
      "SELECT s.id, s.tree_uuid, s.tree_root, s.peer_device_uuid, IFNULL(d.name, ''), s.peer_tree_uuid, "
      "s.peer_tree_root FROM SyncDir s LEFT JOIN Device d ON d.uuid = s.peer_device_uuid " +
          where + " ORDER BY s.id",
      args, error);
  if (!rows) status = context.Fail(error);
  return rows;
}

std::vector<Entry> RelationEntries(const DbRows& rows) {
  std::vector<Entry> entries;
  for (const auto& row : rows) {
    entries.push_back({{"id", row[0], true},
                       {"local_tree_uuid", row[1]},
                       {"local_root", row[2]},
                       {"device_uuid", row[3]},
                       {"device_name", row[4]},
                       {"remote_tree_uuid", row[5]},
                       {"remote_root", row[6]}});
  }
  return entries;
}

// The service deletes the relation and tells the peer to drop its side.
CtlAnswer DeleteRelation(Context& context, const std::string& id) {
  qo::MsgWinSyncDeleteRequest remove;
  remove.set_sync_id(std::stoi(id));
  return context.client->Request(qo::MC_WIN_SYNC_DELETE_REQUEST, &remove);
}

int ShowFolders(Context& context) {
  qo::MsgTreeShowResponse trees;
  if (CtlAnswer answer = LocalTrees(context, trees); answer.status != kExitOk) return context.Fail(answer);
  PrintTrees(context, trees);
  return kExitOk;
}

int AddFolder(Context& context, const std::string& path) {
  if (path.empty()) return context.Fail("请选择目录");
  const std::string root = AbsolutePath(path);
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) {
    return context.Fail("输入的路径不是文件夹，同步目录必须是电脑中的文件夹");
  }
  qo::MsgTreeAddRequest add;
  add.set_sync_uuid(protocol::NewUuid());
  add.set_tree_root(root);
  add.set_tree_uuid(protocol::NewUuid());
  qo::MsgTreeAddResponse added;
  if (CtlAnswer answer = Parsed(context.client->Request(qo::MC_TREE_ADD_REQUEST, &add), added);
      answer.status != kExitOk) {
    return context.Fail(answer, "创建同步目录失败");
  }
  Print(context, {TreeEntry(added.tree_uuid(), add.sync_uuid(), root)}, false);
  return kExitOk;
}

int RemoveFolder(Context& context, const std::string& path) {
  qo::MsgTreeShowResponse trees;
  if (CtlAnswer answer = LocalTrees(context, trees); answer.status != kExitOk) return context.Fail(answer);
  const qo::TreeInfo* tree = TreeAt(trees, AbsolutePath(path));
  if (tree == nullptr) return context.FailCode(qo::ZE_NOENT);
  int status = kExitOk;
  const std::optional<DbRows> relations = ReadRelations(context, "WHERE s.tree_uuid = ?", {tree->tree_uuid()}, status);
  if (!relations) return status;
  // The service refuses to delete a tree that still has relations.
  for (const auto& row : *relations) {
    CtlAnswer answer = DeleteRelation(context, row[0]);
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

int Folder(Context& context) {
  const auto& words = context.invocation.words;
  if (words[1] == "add") return AddFolder(context, words[2]);
  if (words[1] == "remove") return RemoveFolder(context, words[2]);
  return context.Usage();
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
    return context.Fail(answer, "文件夹名无效");
  }
  Print(context, {TreeEntry(added.tree_uuid(), add.sync_uuid(), add.tree_root())}, false);
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
  if (remote == nullptr) return context.Fail("请选择同步目录");

  const std::string root = AbsolutePath(words[3]);
  qo::MsgTreeShowResponse localTrees;
  if (CtlAnswer answer = LocalTrees(context, localTrees); answer.status != kExitOk) return context.Fail(answer);
  std::string localTree;
  if (const qo::TreeInfo* existing = TreeAt(localTrees, root)) {
    if (existing->sync_uuid() != remote->sync_uuid()) return context.Fail("所选目录已经于其他同步目录同步");
    localTree = existing->tree_uuid();
  } else {
    qo::MsgTreeAddRequest add;
    add.set_sync_uuid(remote->sync_uuid());
    add.set_tree_root(root);
    add.set_tree_uuid(protocol::NewUuid());
    if (CtlAnswer answer = context.client->Request(qo::MC_TREE_ADD_REQUEST, &add); answer.status != kExitOk) {
      return context.Fail(answer, "初始化本地同步目录副本失败");
    }
    localTree = add.tree_uuid();
  }

  // The peer may have gone since it listed its folders.
  std::string error;
  const std::optional<PeerDevice> current = ReadPeerDevice(context.invocation.metadir, peer->uuid, error);
  if (!current || !current->online) return context.Fail(CtlClient::kPeerOffline);
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
    return context.Fail(answer, "创建同步目录失败");
  }
  qo::MsgSyncAddRequest here;
  here.set_local_tree_uuid(localTree);
  here.set_remote_sync_uuid(remote->sync_uuid());
  here.set_remote_tree_uuid(remote->tree_uuid());
  here.set_remote_tree_root(remote->tree_root());
  here.set_remote_device_uuid(current->uuid);
  if (CtlAnswer answer = context.client->Request(qo::MC_SYNC_ADD_REQUEST, &here); !Recorded(answer)) {
    return context.Fail(answer, "创建同步目录失败");
  }
  qo::MsgSyncOnceRequest once;
  once.set_local_tree_uuid(localTree);
  once.set_remote_tree_uuid(remote->tree_uuid());
  if (CtlAnswer answer = context.client->Request(qo::MC_SYNC_ONCE_REQUEST, &once); answer.status != kExitOk) {
    return context.Fail(answer);
  }
  const std::optional<DbRows> relations = ReadRelations(
      context, "WHERE s.tree_uuid = ? AND s.peer_tree_uuid = ? AND s.peer_device_uuid = ?",
      {localTree, remote->tree_uuid(), current->uuid}, status);
  if (!relations) return status;
  if (relations->size() != 1) return context.FailCode(qo::ZE_NOENT);
  Print(context, RelationEntries(*relations), false);
  return kExitOk;
}

int Unlink(Context& context) {
  const auto& words = context.invocation.words;
  int status = kExitOk;
  const std::optional<std::string> device = ResolveDevice(context, words[2], status);
  if (!device) return status;
  const std::optional<DbRows> relations = ReadRelations(context, "WHERE s.tree_root = ? AND s.peer_device_uuid = ?",
                                                        {AbsolutePath(words[1]), *device}, status);
  if (!relations) return status;
  if (relations->empty()) return context.FailCode(qo::ZE_NOENT);
  for (const auto& row : *relations) {
    if (CtlAnswer answer = DeleteRelation(context, row[0]); answer.status != kExitOk) return context.Fail(answer);
  }
  if (context.invocation.json) Print(context, RelationEntries(*relations));
  return kExitOk;
}

int ShowSyncs(Context& context) {
  int status = kExitOk;
  const std::optional<DbRows> relations = ReadRelations(context, "", {}, status);
  if (!relations) return status;
  Print(context, RelationEntries(*relations));
  return kExitOk;
}

int SyncNow(Context& context) {
  const auto& words = context.invocation.words;
  const bool one = words.size() == 2;
  int status = kExitOk;
  const std::optional<DbRows> relations =
      one ? ReadRelations(context, "WHERE s.tree_root = ?", {AbsolutePath(words[1])}, status)
          : ReadRelations(context, "", {}, status);
  if (!relations) return status;
  if (one && relations->empty()) return context.FailCode(qo::ZE_NOENT);
  // Every relation gets its pass, whatever happened to the others.
  for (const auto& row : *relations) {
    qo::MsgSyncOnceRequest once;
    once.set_local_tree_uuid(row[1]);
    once.set_remote_tree_uuid(row[5]);
    if (CtlAnswer answer = context.client->Request(qo::MC_SYNC_ONCE_REQUEST, &once); answer.status != kExitOk) {
      status = context.Fail(answer);
    }
  }
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

int ShowStatus(Context& context) {
  CtlAnswer failure;
  const std::optional<ServiceState> state =
      ReadServiceState(*context.client, context.invocation.metadir, failure);
  if (!state) return context.Fail(failure);
  if (context.invocation.json) {
    PrintStatusJson(*state, context.out);
  } else {
    PrintStatusText(*state, context.out);
  }
  return kExitOk;
}

// Polls until the service (or one folder's part of it) has been idle for
// two polls in a row; on a terminal, a progress line in the main window's
// words meanwhile.
int Wait(Context& context) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPoll = std::chrono::milliseconds(500);
  std::vector<std::string> trees;
  if (context.invocation.words.size() == 2) {
    std::string error;
    const std::optional<DbRows> rows = QueryLocalDb(context.invocation.metadir, "SELECT tree_uuid FROM Tree WHERE tree_root = ?",
                                                    {AbsolutePath(context.invocation.words[1])}, error);
    if (!rows) return context.Fail(error);
    if (rows->empty()) return context.FailCode(qo::ZE_NOENT);
    trees.push_back(rows->front()[0]);
  }
  const bool terminal = ::isatty(STDERR_FILENO) != 0;
  const auto deadline = Clock::now() + std::chrono::seconds(context.invocation.timeout);
  int idlePolls = 0;
  int64_t lastBytes = -1;
  auto lastTime = Clock::now();
  double speed = 0;
  while (Clock::now() < deadline) {
    CtlAnswer failure;
    const std::optional<ServiceState> state = ReadServiceState(*context.client, context.invocation.metadir, failure);
    if (!state) return context.Fail(failure);
    idlePolls = Idle(*state, trees) ? idlePolls + 1 : 0;
    if (idlePolls >= 2) {
      if (terminal) context.err << "\r\033[K";
      return kExitOk;
    }
    if (terminal) {
      int64_t files = 0;
      int64_t bytes = 0;
      for (const RelationState& r : state->relations) {
        if (!trees.empty() && r.localTreeUuid != trees.front()) continue;
        files += r.pendingFiles;
        bytes += r.pendingBytes;
      }
      const auto now = Clock::now();
      const double seconds = std::chrono::duration<double>(now - lastTime).count();
      if (lastBytes >= 0 && seconds > 0) speed = std::max(0.0, static_cast<double>(lastBytes - bytes) / seconds);
      lastBytes = bytes;
      lastTime = now;
      context.err << "\r\033[K" << ProgressLine(files, bytes, speed) << std::flush;
    }
    std::this_thread::sleep_for(kPoll);
  }
  if (terminal) context.err << "\n";
  context.err << "still busy after " << context.invocation.timeout << " s\n";
  return kExitTimeout;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  std::optional<Invocation> invocation = Parse(arguments, err);
  if (!invocation) return kExitUsage;
  struct Command {
    int (*run)(Context&);
    size_t minWords;  // the command's name included
    size_t maxWords;
    std::set<std::string> verbs = {};  // the second word, for commands that have one
  };
  static const std::map<std::string, Command> kCommands = {
      {"id", {ShowId, 1, 1}},
      {"devices", {ShowDevices, 1, 1}},
      {"trust", {Trust, 3, 3, {"request", "accept", "deny", "revoke"}}},
      {"folders", {ShowFolders, 1, 1}},
      {"folder", {Folder, 3, 3, {"add", "remove"}}},
      {"remote-folders", {ShowRemoteFolders, 2, 2}},
      {"remote-roots", {ShowRemoteRoots, 2, 2}},
      {"remote-ls", {ShowRemoteListing, 3, 3}},
      {"remote-folder", {AddRemoteFolder, 4, 4, {"add"}}},
      {"link", {Link, 4, 4}},
      {"unlink", {Unlink, 3, 3}},
      {"syncs", {ShowSyncs, 1, 1}},
      {"sync-now", {SyncNow, 1, 2}},
      {"rescan", {Rescan, 1, 1}},
      {"status", {ShowStatus, 1, 1}},
      {"wait", {Wait, 1, 2}},
  };
  const auto command = kCommands.find(invocation->words.front());
  const size_t count = invocation->words.size();
  if (command == kCommands.end() || count < command->second.minWords || count > command->second.maxWords ||
      (!command->second.verbs.empty() && command->second.verbs.count(invocation->words[1]) == 0)) {
    err << kUsage;
    return kExitUsage;
  }
  std::string error;
  std::optional<LocalIdentity> identity = ReadLocalIdentity(invocation->metadir, error);
  if (!identity) {
    err << error << "\n";
    return kExitServiceError;
  }
  Context context{std::move(*invocation), out, err, std::nullopt};
  context.client.emplace(std::move(*identity));
  return command->second.run(context);
}

}  // namespace morvex::ctl
