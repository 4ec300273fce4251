#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "index/Tree.h"
#include "index/UsnAllocator.h"
#include "peer/PeerFixture.h"
#include "protocol/Identity.h"
#include "store/ContentResolver.h"
#include "support/TempDir.h"
#include "sync/SyncDir.h"

namespace morvex::sync {

// A device that syncs one of its trees ("local") with another tree of the
// same sync folder on itself ("peer"): the pass talks to its own response
// router over TCP exactly as it talks to another device, so listing,
// serving parts, fetching and applying all run for real.
class SyncFixture : public peer::PeerFixture {
 protected:
  void SetUp() override {
    PeerFixture::SetUp();
    if (IsSkipped()) return;
    own_ = config_.Snapshot()->deviceUuid;
    usn_ = std::make_unique<index::CUsnAllocator>(own_);
    index::CUsnAllocator::Install(usn_.get());
    localRoot_ = dir_ / "local";
    peerRoot_ = dir_ / "peer";
    ASSERT_EQ(::mkdir(localRoot_.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(peerRoot_.c_str(), 0755), 0);
    syncUuid_ = protocol::NewUuid();
    localTree_ = protocol::NewUuid();
    peerTree_ = protocol::NewUuid();
    // Which side gives way in a conflict depends on the order of the UUIDs.
    if ((localTree_ < peerTree_) != localLower_) std::swap(localTree_, peerTree_);
    ASSERT_EQ(index::CreateTree(syncUuid_, localRoot_, localTree_, own_), 0);
    ASSERT_EQ(index::CreateTree(syncUuid_, peerRoot_, peerTree_, own_), 0);
    syncId_ = AddRelation(localRoot_, peerTree_, peerRoot_);
    StartRouter();
  }

  void TearDown() override {
    if (usn_) index::CUsnAllocator::Install(nullptr);
    PeerFixture::TearDown();
    usn_.reset();
  }

  // A Sync row from the tree at `root` to `peerTree` on this device.
  int32_t AddRelation(const std::string& root, const std::string& peerTree, const std::string& peerRoot) {
    store::CContentValues row;
    row.PutInt("tree_id", index::LocalTree::ByRoot(root).Id())
        .PutString("peer_device_uuid", own_)
        .PutString("peer_tree_uuid", peerTree)
        .PutString("peer_tree_root", peerRoot)
        .PutInt("clock", 1)
        .PutInt("peer_clock", 0)
        .PutString("creator", own_)
        .PutString("ctime", "now")
        .PutInt64("last_sync", 0);
    return static_cast<int32_t>(Resolver().Insert(store::uris::Sync(), row, store::kConflictNone));
  }

  static std::string At(const std::string& root, const std::string& relative) { return root + "/" + relative; }

  // Brings the records of a whole tree in line with its disk, as a rescan.
  void IndexAll(const std::string& root) {
    const index::LocalTree tree = index::LocalTree::ByRoot(root);
    store::COperationList list;
    ASSERT_TRUE(tree.WalkTree(list, root));
    Resolver().ApplyBatch(store::kAuthority, list);
  }
  void IndexPaths(const std::string& root, std::initializer_list<std::string> relatives) {
    const index::LocalTree tree = index::LocalTree::ByRoot(root);
    store::COperationList list;
    for (const std::string& relative : relatives) {
      if (index::PathExists(At(root, relative))) {
        tree.IndexPath(At(root, relative), list);
      } else {
        tree.RemovePath(At(root, relative), list);
      }
    }
    Resolver().ApplyBatch(store::kAuthority, list);
  }

  index::CQoFile Record(const std::string& root, const std::string& relative) {
    index::CQoFile record;
    record.LoadByPath(index::LocalTree::ByRoot(root).Id(), At(root, relative));
    return record;
  }

  bool Pass(int32_t syncId = 0, const PassLimits& limits = {}) {
    CSyncDir relation(syncId == 0 ? syncId_ : syncId);
    return relation.RunPass(*peer_, limits);
  }

  bool localLower_ = true;  // set by a subclass's constructor
  test::TempDir dir_;
  std::string own_;
  std::unique_ptr<index::CUsnAllocator> usn_;
  std::string localRoot_;
  std::string peerRoot_;
  std::string syncUuid_;
  std::string localTree_;
  std::string peerTree_;
  int32_t syncId_ = 0;
};

}  // namespace morvex::sync
