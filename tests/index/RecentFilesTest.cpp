#include "index/RecentFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/StoreFixture.h"

namespace morvex::index {
namespace {

class RecentFilesTest : public store::StoreFixture {
 protected:
  // One regular file of tree `tree` changed with this usn.
  void AddFile(int tree, const std::string& path, int64_t usn, int type = 0, int status = 1) {
    ASSERT_TRUE(Db().Exec("INSERT INTO File (tree_id, path, type, status, usn, sha1, local_clock) VALUES (" +
                          std::to_string(tree) + ", '" + path + "', " + std::to_string(type) + ", " +
                          std::to_string(status) + ", " + std::to_string(usn) + ", '', 1)"));
  }
};

TEST_F(RecentFilesTest, TheNewestLiveRegularFilesOfEveryTreeComeFirst) {
  EXPECT_TRUE(RecentFiles(0, 10).empty());
  EXPECT_EQ(LargestUsn(), 0);
  // Eleven files over two trees, a directory and a removed file among them.
  for (int i = 1; i <= 11; ++i) AddFile(i % 2 + 1, "/r/f" + std::to_string(i), i);
  AddFile(1, "/r/dir", 12, /*type=*/1);
  AddFile(1, "/r/gone", 13, /*type=*/0, /*status=*/0);

  const std::vector<std::string> ten = {"/r/f11", "/r/f10", "/r/f9", "/r/f8", "/r/f7",
                                        "/r/f6",  "/r/f5",  "/r/f4", "/r/f3", "/r/f2"};
  EXPECT_EQ(RecentFiles(0, 10), ten);
  EXPECT_EQ(LargestUsn(), 13);
  // The floor hides what changed at or before it.
  EXPECT_EQ(RecentFiles(9, 10), (std::vector<std::string>{"/r/f11", "/r/f10"}));
  EXPECT_TRUE(RecentFiles(LargestUsn(), 10).empty());
  AddFile(2, "/r/new", 14);
  EXPECT_EQ(RecentFiles(13, 10), std::vector<std::string>{"/r/new"});
}

}  // namespace
}  // namespace morvex::index
