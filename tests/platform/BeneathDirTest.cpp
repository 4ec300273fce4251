#include "platform/BeneathDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "support/TempDir.h"

namespace morvex::platform {
namespace {

// A root holding a folder and a link to a folder outside it.
class BeneathDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir(root_.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(outside_.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root_ + "/in").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(outside_.c_str(), (root_ + "/link").c_str()), 0);
  }
  bool Exists(const std::string& path) const {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
  }

  test::TempDir dir_;
  std::string root_ = dir_ / "root";
  std::string outside_ = dir_ / "outside";
};

TEST_F(BeneathDirTest, ResolvesOnlyPathsThatStayBelowTheRootWithoutALink) {
  const struct {
    const char* path;  // below the test folder
    bool makeParents;
    int error;  // 0: resolves
    const char* name;
  } cases[] = {
      {"root/in/file", false, 0, "file"},
      {"root/file", false, 0, "file"},
      {"root/new/deeper/file", true, 0, "file"},
      {"root/missing/file", false, ENOENT, ""},
      {"root/link/file", false, ELOOP, ""},
      {"root/link/new/file", true, ELOOP, ""},
      {"root/in/../../outside/file", true, EXDEV, ""},
      {"outside/file", false, EXDEV, ""},
      {"root", false, EXDEV, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    BeneathEntry entry;
    errno = 0;
    const bool resolved = ResolveBeneath(root_, dir_ / c.path, c.makeParents, entry);
    EXPECT_EQ(resolved, c.error == 0);
    if (c.error != 0) {
      EXPECT_EQ(errno, c.error);
      EXPECT_EQ(IsEscapeError(errno), c.error != ENOENT);
      continue;
    }
    EXPECT_EQ(entry.name, c.name);
    UniqueFd file(::openat(entry.dir.Get(), entry.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    EXPECT_TRUE(file.Valid());
    EXPECT_TRUE(Exists(dir_ / c.path));
  }
  EXPECT_TRUE(Exists(root_ + "/new/deeper"));
  EXPECT_FALSE(Exists(outside_ + "/new"));
  EXPECT_FALSE(Exists(outside_ + "/file"));
}

TEST_F(BeneathDirTest, OpenBeneathRefusesALinkOnTheWay) {
  UniqueFd root(::open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(root.Valid());
  EXPECT_TRUE(OpenBeneath(root.Get(), "in", O_PATH | O_DIRECTORY).Valid());
  EXPECT_TRUE(OpenBeneath(root.Get(), "", O_PATH | O_DIRECTORY).Valid());
  EXPECT_FALSE(OpenBeneath(root.Get(), "link", O_PATH | O_DIRECTORY).Valid());
  EXPECT_EQ(errno, ELOOP);
  EXPECT_FALSE(OpenBeneath(root.Get(), "link/x", O_WRONLY | O_CREAT, 0600).Valid());
  EXPECT_FALSE(Exists(outside_ + "/x"));
}

}  // namespace
}  // namespace morvex::platform
