#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "index/IgnoreRules.h"
#include "protocol/ZmqSocket.h"
#include "store/ContentObserver.h"
#include "store/Operations.h"

namespace morvex::index {

// One row of Tree, read once (it does not follow later changes of the
// table), with what is done to one tree: bringing the record of one path
// in line with the disk, recording that a path is gone, walking a folder.
// These only append to the caller's operation list; the caller applies it
// as one batch and, when rows changed, publishes the change.
//
// Paths are full local paths (root, "/", relative path). Symbolic links
// are neither followed nor indexed; sockets, FIFOs and devices are skipped
// (each kind logged once per tree); names that are not valid UTF-8 cannot
// travel to peers and are skipped with a WARNING.
//
// Threads: used by the thread that made it; the operations share only the
// database and the USN allocator.
class LocalTree {
 public:
  LocalTree() = default;
  static LocalTree ById(int32_t id);
  static LocalTree ByUuid(const std::string& treeUuid);
  static LocalTree ByRoot(const std::string& root);
  // Every tree of this device, in the table's order.
  static std::vector<LocalTree> All();

  bool Valid() const { return valid_; }
  int32_t Id() const { return id_; }
  const std::string& DeviceUuid() const { return deviceUuid_; }
  const std::string& TreeUuid() const { return treeUuid_; }
  const std::string& Root() const { return root_; }
  const std::string& SyncUuid() const { return syncUuid_; }

  // True when the record is up to date or a change was appended; false when
  // the path cannot be read now (vanished, locked, changing): retry later.
  bool IndexPath(const std::string& path, store::COperationList& list) const;
  // Marks the record of `path` and every record below it removed.
  void RemovePath(const std::string& path, store::COperationList& list) const;
  // Indexes everything below `dir` that the rules keep, as the full rescan
  // does: an ignored folder is not recorded but its entries are still
  // tested one by one. False when the folder cannot be listed.
  bool WalkTree(store::COperationList& list, const std::string& dir, const IgnoreRules& rules = IgnoreRules()) const;

 private:
  static LocalTree Load(const store::CSelection& selection);
  static std::vector<LocalTree> LoadAll(const store::CSelection& selection);

  bool valid_ = false;
  int32_t id_ = 0;
  std::string deviceUuid_;
  std::string treeUuid_;
  std::string root_;
  std::string syncUuid_;
};

// Change notices of the Tree table, delivered to `observer` until it is
// taken off again.
void ObserveTrees(store::CContentObserver* observer);
void StopObservingTrees(store::CContentObserver* observer);

// Tells peers (through the response router) that a tree has new changes.
bool PublishFileChange(protocol::ZmqContext& zmq, const std::string& publisher, const std::string& syncUuid,
                       const std::string& treeUuid);

// A new tree: ZE_SUCCESS, ZE_BAD_PATH (not an existing folder),
// ZE_NESTED_TREE (inside or around another tree, of any sync folder,
// compared by whole path components), ZE_EXIST, ZE_SQLITE.
int CreateTree(const std::string& syncUuid, const std::string& root, const std::string& treeUuid,
               const std::string& ownUuid);
// Deletes the tree with its records: ZE_SUCCESS or ZE_NOENT. Its relations
// are the caller's to remove first: the index knows nothing of peers.
int DeleteTree(const LocalTree& tree);

// True when `path` is `dir` or lies below it, by whole components.
bool PathWithin(const std::string& path, const std::string& dir);

}  // namespace morvex::index
