#include "index/Tree.h"

#include <dirent.h>
#include <glog/logging.h>

#include <memory>
#include <mutex>
#include <set>

#include "Morvex.pb.h"
#include "index/FileUtils.h"
#include "index/FingerPrint.h"
#include "index/IgnoreRules.h"
#include "index/QoFile.h"
#include "platform/PathCollation.h"
#include "platform/ServiceFolder.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"
#include "store/ContentResolver.h"
#include "platform/UniqueDir.h"

namespace morvex::index {

using store::CContentResolver;
using store::CSelection;
namespace uris = store::uris;

namespace {

bool ValidUtf8(const std::string& text) {
  for (size_t pos = 0; pos < text.size();) {
    if (platform::NextCodePoint(text, pos) >= 0x110000) return false;
  }
  return true;
}

// Logs a skipped kind of entry once per tree.
void NoteSkipped(int32_t treeId, FileKind kind, const std::string& path) {
  static std::mutex mutex;
  static std::set<std::pair<int32_t, int>> logged;
  std::lock_guard lock(mutex);
  if (!logged.insert({treeId, static_cast<int>(kind)}).second) return;
  LOG(INFO) << (kind == FileKind::kSymlink ? "Symbolic links are not synchronised, e.g. "
                                           : "Sockets, FIFOs and devices are not synchronised, e.g. ")
            << path;
}

}  // namespace

bool PathWithin(const std::string& path, const std::string& dir) {
  if (dir == "/") return !path.empty() && path[0] == '/';
  return path.size() >= dir.size() && path.compare(0, dir.size(), dir) == 0 &&
         (path.size() == dir.size() || path[dir.size()] == '/');
}

std::vector<LocalTree> LocalTree::LoadAll(const CSelection& selection) {
  // The columns in the order the query names them, read by these names.
  enum Column { kId, kDeviceUuid, kTreeUuid, kSyncUuid, kTreeRoot };
  std::vector<LocalTree> trees;
  auto rows = CContentResolver::Instance().Query(uris::Tree(), {"id", "device_uuid", "tree_uuid", "sync_uuid", "tree_root"},
                                                 selection);
  while (rows && rows->MoveToNext()) {
    LocalTree& tree = trees.emplace_back();
    tree.valid_ = true;
    tree.id_ = rows->GetInt(kId);
    tree.deviceUuid_ = rows->GetString(kDeviceUuid);
    tree.treeUuid_ = rows->GetString(kTreeUuid);
    tree.syncUuid_ = rows->GetString(kSyncUuid);
    tree.root_ = rows->GetString(kTreeRoot);
  }
  return trees;
}

LocalTree LocalTree::Load(const CSelection& selection) {
  std::vector<LocalTree> trees = LoadAll(selection);
  return trees.empty() ? LocalTree() : std::move(trees.front());
}

std::vector<LocalTree> LocalTree::All() { return LoadAll(CSelection()); }

LocalTree LocalTree::ById(int32_t id) {
  if (id <= 0) return {};
  return Load(CSelection("id = ? ").AddInt(id));
}
LocalTree LocalTree::ByUuid(const std::string& treeUuid) { return Load(CSelection("tree_uuid = ? ").AddString(treeUuid)); }
LocalTree LocalTree::ByRoot(const std::string& root) { return Load(CSelection("tree_root = ? ").AddString(root)); }

bool LocalTree::IndexPath(const std::string& path, store::COperationList& list) const {
  const FileInfo info = GetFileInfo(path);
  if (!info.valid) return false;
  if (info.kind == FileKind::kSymlink || info.kind == FileKind::kOther) {
    NoteSkipped(id_, info.kind, path);
    return true;
  }
  if (!ValidUtf8(path)) {
    LOG(WARNING) << "Name is not valid UTF-8, not synchronised: " << path;
    return true;
  }
  const bool directory = info.kind == FileKind::kDirectory;
  CQoFile record;
  if (!record.LoadByPath(id_, path)) {
    std::string sha1;
    if (!directory) {
      CNCancleCacuSha1 never;
      const auto digest = GetSha1(path, never, 0);
      if (!digest) {
        LOG(WARNING) << "Failed to GetSha1: " << path;
        return false;
      }
      sha1 = *digest;
    }
    CQoFileBuilder(path, sha1, id_, static_cast<int32_t>(info.unix_attr), 0, info).AppendInsert(list);
    return true;
  }

  const int32_t attributes = KeptAttributes(info.win_attr, directory);
  const auto unixAttr = static_cast<int32_t>(info.unix_attr);
  if (directory) {
    if (record.Type() == qo::DIR && record.Status() == qo::NORMAL) {
      // A directory's own time and size are not followed; its permissions
      // are part of what peers get.
      if (record.WinAttr() == attributes && record.UnixAttr() == unixAttr) return true;
      FileInfo permissions = info;
      permissions.mtime = record.Mtime();
      permissions.length = record.Length();
      record.SetFromFileInfo(permissions, std::nullopt);
    } else {
      record.SetFromFileInfo(info, std::string());
    }
  } else {
    // The content is fingerprinted unless the record is a present file of
    // the same time and size.
    const bool needSha1 = record.Type() == qo::DIR || record.Status() == qo::REMOVED || record.Mtime() != info.mtime ||
                          record.Length() != info.length;
    if (!needSha1 && record.WinAttr() == attributes && record.UnixAttr() == unixAttr) return true;
    std::optional<std::string> sha1;
    if (needSha1) {
      CNCancleCacuSha1 never;
      sha1 = GetSha1(path, never, 0);
      if (!sha1) {
        LOG(WARNING) << "Failed to GetSha1: " << path;
        return false;
      }
    }
    record.SetFromFileInfo(info, sha1);
  }
  if (record.DirtyMask() != 0) {
    record.IncLocalClock();
    record.AppendUpdate(list);
  }
  return true;
}

void LocalTree::RemovePath(const std::string& path, store::COperationList& list) const {
  CQoFile record;
  if (!record.LoadByPath(id_, path)) {
    // A folder the rules ignore has no record of its own; the entries
    // below it that they keep have, and go with it.
    if (AnyLiveBelow(id_, path)) {
      MarkRemovedBelow(id_, path, list);
    } else {
      LOG(INFO) << "Tmp File encountered: " << path;
    }
    return;
  }
  if (record.Status() != qo::REMOVED) record.MarkRemoved(&list);
  if (record.Type() == qo::DIR) record.MarkSubtreeRemoved(list);
}

bool LocalTree::WalkTree(store::COperationList& list, const std::string& dir, const IgnoreRules& rules) const {
  platform::UniqueDir listing(::opendir(dir.c_str()));
  if (!listing) return false;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string name = entry->d_name;
    if (platform::SkippedInWalk(name)) continue;
    const auto child = JoinPath(dir, name);
    if (!child || IsTmpFile(*child)) continue;
    if (rules.Ignored(*child)) {
      LOG(INFO) << "[Ignore    ] " << *child;
    } else {
      IndexPath(*child, list);
    }
    bool isDir = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) isDir = GetFileInfo(*child).kind == FileKind::kDirectory;
    if (isDir) WalkTree(list, *child, rules);
  }
  return true;
}

void ObserveTrees(store::CContentObserver* observer) {
  CContentResolver::Instance().RegisterObserver(uris::Tree(), false, observer);
}

void StopObservingTrees(store::CContentObserver* observer) {
  CContentResolver::Instance().UnregisterObserver(uris::Tree(), observer);
}

bool PublishFileChange(protocol::ZmqContext& zmq, const std::string& publisher, const std::string& syncUuid,
                       const std::string& treeUuid) {
  qo::MsgPubFileChange change;
  change.set_publisher(publisher);
  change.set_sync_uuid(syncUuid);
  change.set_tree_uuid(treeUuid);
  const bool sent = protocol::PushOnce(zmq, protocol::endpoints::kCommand, qo::MC_PUB_FILE_CHANGE, &change);
  LOG(INFO) << "Issue MC_PUB_FILE_CHANGE";
  return sent;
}

int CreateTree(const std::string& syncUuid, const std::string& root, const std::string& treeUuid,
               const std::string& ownUuid) {
  if (root.empty() || GetFileInfo(root).kind != FileKind::kDirectory) return qo::ZE_BAD_PATH;
  auto& resolver = CContentResolver::Instance();
  // Any other tree, of whichever sync folder: trees that overlap would index
  // and watch the same folders twice, and removing one would take the
  // other's watches with it.
  auto others = resolver.Query(uris::Tree(), {"tree_root"}, CSelection("tree_root != ? ").AddString(root));
  while (others && others->MoveToNext()) {
    const std::string other(others->GetString("tree_root"));
    if (PathWithin(root, other) || PathWithin(other, root)) return qo::ZE_NESTED_TREE;
  }
  others.reset();
  store::CContentValues row;
  row.PutString("sync_uuid", syncUuid).PutString("tree_root", root).PutString("tree_uuid", treeUuid).PutString("device_uuid", ownUuid);
  if (resolver.Insert(uris::Tree(), row, store::kConflictNone) > 0) return qo::ZE_SUCCESS;
  return resolver.QueryInt(uris::Tree(), "id", -1, CSelection("tree_root = ? ").AddString(root)) > 0 ? qo::ZE_EXIST
                                                                                                       : qo::ZE_SQLITE;
}

int DeleteTree(const LocalTree& tree) {
  auto& resolver = CContentResolver::Instance();
  return resolver.Delete(uris::Tree(), CSelection("id = ? ").AddInt(tree.Id())) == 1 ? qo::ZE_SUCCESS : qo::ZE_NOENT;
}

}  // namespace morvex::index
