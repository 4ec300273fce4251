#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "index/QoFile.h"
#include "index/Tree.h"
#include "index/UsnAllocator.h"
#include "store/StoreFixture.h"
#include "support/TempDir.h"

namespace morvex::index {

// A real store, a USN allocator and one tree rooted in a temporary folder.
class IndexFixture : public store::StoreFixture {
 public:
  static constexpr const char* kOwnUuid = "0d7c8a3e-1b2c-4d5e-8f60-000000000001";
  static constexpr const char* kSyncUuid = "0d7c8a3e-1b2c-4d5e-8f60-000000000002";
  static constexpr const char* kTreeUuid = "0d7c8a3e-1b2c-4d5e-8f60-000000000003";

  void SetUp() override {
    StoreFixture::SetUp();
    usn_ = std::make_unique<CUsnAllocator>(kOwnUuid);
    CUsnAllocator::Install(usn_.get());
    root_ = dir_ / "tree";
    ASSERT_EQ(::mkdir(root_.c_str(), 0755), 0);
    ASSERT_EQ(CreateTree(kSyncUuid, root_, kTreeUuid, kOwnUuid), 0);
    tree_ = LocalTree::ByRoot(root_);
    ASSERT_TRUE(tree_.Valid());
  }
  void TearDown() override {
    CUsnAllocator::Install(nullptr);
    StoreFixture::TearDown();
  }

 public:
  std::string At(const std::string& relative) const { return root_ + "/" + relative; }
  void Write(const std::string& relative, const std::string& content) { test::WriteFile(At(relative), content); }
  void MakeDir(const std::string& relative) { ASSERT_EQ(::mkdir(At(relative).c_str(), 0755), 0); }
  // Indexes paths of the tree in one batch, as the indexer does.
  void Index(std::initializer_list<std::string> relatives) {
    store::COperationList list;
    for (const std::string& relative : relatives) {
      if (PathExists(At(relative))) {
        ASSERT_TRUE(tree_.IndexPath(At(relative), list)) << relative;
      } else {
        tree_.RemovePath(At(relative), list);
      }
    }
    Resolver().ApplyBatch(store::kAuthority, list);
  }
  CQoFile Record(const std::string& relative) {
    CQoFile record;
    record.LoadByPath(tree_.Id(), relative.empty() ? root_ : At(relative));
    return record;
  }
  int64_t MaxUsn() { return Resolver().QueryInt64(store::uris::File(), "MAX(usn)", 0, store::CSelection()); }

  test::TempDir dir_;
  std::string root_;
  LocalTree tree_;
  std::unique_ptr<CUsnAllocator> usn_;
};

}  // namespace morvex::index
