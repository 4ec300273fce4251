#include "index/FileUtils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace morvex::index {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode;
}

TEST(FileInfo, KindsAreReportedWithoutFollowingLinks) {
  test::TempDir dir;
  test::WriteFile(dir / "file", "12345");
  ASSERT_EQ(::chmod((dir / "file").c_str(), 0640), 0);
  ASSERT_EQ(::mkdir((dir / "dir").c_str(), 0750), 0);
  ASSERT_EQ(::symlink((dir / "dir").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  struct Case {
    const char* name;
    FileKind kind;
    uint32_t win_attr;
    uint32_t unix_attr;
    int64_t length;
  };
  const Case cases[] = {
      {"file", FileKind::kRegular, 0, 0640, 5},
      {"dir", FileKind::kDirectory, kAttrDirectory, 0750, 0},
      {"link", FileKind::kSymlink, 0, 0777, static_cast<int64_t>((dir / "dir").size())},
      {"fifo", FileKind::kOther, 0, 0600, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FileInfo info = GetFileInfo(dir / c.name);
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(info.kind, c.kind);
    EXPECT_EQ(info.win_attr, c.win_attr);
    EXPECT_EQ(info.unix_attr, c.unix_attr);
    EXPECT_EQ(info.length, c.length);
  }

  test::LogCapture log;
  EXPECT_FALSE(GetFileInfo(dir / "missing").valid);
  EXPECT_TRUE(log.Has(google::GLOG_ERROR, "GetFileAttributesEx() Failed[2]:" + (dir / "missing")));
}

TEST(FileAttributes, ReadOnlyIsTheOwnersWritePermission) {
  test::TempDir dir;
  test::WriteFile(dir / "file", "x");
  ASSERT_EQ(::mkdir((dir / "dir").c_str(), 0755), 0);
  struct Case {
    const char* name;
    mode_t before;
    bool (*apply)(const std::string& path);
    bool ok;
    mode_t after;
  };
  const Case cases[] = {
      {"file", 0644, [](const std::string& p) { return ChangeFileAttributes(p, kAttrReadOnly); }, true, 0444},
      {"file", 0444, [](const std::string& p) { return ChangeFileAttributes(p, 0); }, true, 0644},
      {"file", 0444, [](const std::string& p) { return ChangeFileAttributes(p, kAttrReadOnly | 0x2); }, true, 0444},
      {"dir", 0755, [](const std::string& p) { return ChangeFileAttributes(p, kAttrDirectory | kAttrReadOnly); },
       true, 0555},
      {"dir", 0555, [](const std::string& p) { return ChangeFileAttributes(p, kAttrDirectory); }, true, 0755},
      {"file", 0600, [](const std::string& p) { return ApplyUnixAttributes(p, 04755); }, true, 0755},
      {"file", 0600, [](const std::string& p) { return ApplyUnixAttributes(p, 02640); }, true, 0640},
      {"dir", 0700, [](const std::string& p) { return ApplyUnixAttributes(p, 01777); }, true, 0777},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n++);
    const std::string path = dir / c.name;
    ASSERT_EQ(::chmod(path.c_str(), c.before), 0);
    EXPECT_EQ(c.apply(path), c.ok);
    EXPECT_EQ(ModeOf(path) & 07777, c.after);
    EXPECT_EQ(GetFileInfo(path).win_attr & kAttrReadOnly, (c.after & S_IWUSR) != 0 ? 0u : kAttrReadOnly);
  }

  // A link has no permissions of its own, and its target is left alone.
  ASSERT_EQ(::symlink((dir / "file").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(::chmod((dir / "file").c_str(), 0644), 0);
  EXPECT_FALSE(ChangeFileAttributes(dir / "link", kAttrReadOnly));
  EXPECT_FALSE(ApplyUnixAttributes(dir / "link", 0600));
  EXPECT_EQ(ModeOf(dir / "file") & 07777, 0644u);
}

TEST(LastWriteTime, RoundTripsInMilliseconds) {
  test::TempDir dir;
  const std::string path = dir / "f";
  test::WriteFile(path, "x");
  for (const int64_t mtime : {int64_t{1700000000123}, int64_t{0}, int64_t{-1}, int64_t{4102444800999}}) {
    SCOPED_TRACE(mtime);
    ASSERT_TRUE(SetLastWriteTime(path, mtime));
    int64_t read = 42;
    EXPECT_TRUE(GetLastWriteTime(path, read));
    EXPECT_EQ(read, mtime);
    EXPECT_EQ(GetFileInfo(path).mtime, mtime);
    EXPECT_FALSE(IsFileModifiedSince(path, mtime));
    EXPECT_TRUE(IsFileModifiedSince(path, mtime + 1));
  }
  EXPECT_FALSE(IsFileModifiedSince(dir / "missing", 0));
  EXPECT_FALSE(IsFileModifiedSince(dir / "f/below-a-file", 0));
}

TEST(MakeDirectory, ExistingEntries) {
  struct Case {
    const char* what;
    const char* path;
    void (*prepare)(const test::TempDir& dir);
    bool replace;
    bool ok;
  };
  const Case cases[] = {
      {"existing directory", "p", [](const test::TempDir& d) { ASSERT_EQ(::mkdir((d / "p").c_str(), 0755), 0); },
       false, true},
      {"missing parents", "a/b/c", [](const test::TempDir&) {}, false, true},
      {"file in the way", "p", [](const test::TempDir& d) { test::WriteFile(d / "p", "keep"); }, false, false},
      {"file replaced", "p", [](const test::TempDir& d) { test::WriteFile(d / "p", "old"); }, true, true},
      {"link to a directory", "p",
       [](const test::TempDir& d) { ASSERT_EQ(::symlink(d.Path().c_str(), (d / "p").c_str()), 0); }, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    c.prepare(dir);
    const std::string path = dir / c.path;
    EXPECT_EQ(MakeDirectory(path, c.replace), c.ok);
    EXPECT_EQ(S_ISDIR(ModeOf(path)), c.ok);
  }
  test::TempDir dir;
  test::WriteFile(dir / "p", "keep");
  ASSERT_FALSE(MakeDirectory(dir / "p", false));
  EXPECT_EQ(test::ReadFile(dir / "p"), "keep");
}

TEST(MoveFileReplace, NeverOverwritesUnlessAskedAndCreatesTheParent) {
  test::TempDir dir;
  test::WriteFile(dir / "src", "new");
  test::WriteFile(dir / "dst", "old");
  EXPECT_FALSE(MoveFileReplace(dir / "src", dir / "dst", false));
  EXPECT_EQ(test::ReadFile(dir / "src"), "new");
  EXPECT_EQ(test::ReadFile(dir / "dst"), "old");

  EXPECT_TRUE(MoveFileReplace(dir / "src", dir / "dst", true));
  EXPECT_EQ(test::ReadFile(dir / "dst"), "new");
  EXPECT_NE(::access((dir / "src").c_str(), F_OK), 0);

  EXPECT_TRUE(MoveFileReplace(dir / "dst", dir / "x/y/moved", false));
  EXPECT_EQ(test::ReadFile(dir / "x/y/moved"), "new");

  // The parent exists, so a missing source is not retried into success.
  EXPECT_FALSE(MoveFileReplace(dir / "gone", dir / "x/y/other", false));
}

TEST(RemoveDirectoryTree, RemovesReadOnlyEntriesAndNeverFollowsLinks) {
  test::TempDir outside;
  test::WriteFile(outside / "keep", "keep");
  test::TempDir dir;
  const std::string root = dir / "tree";
  ASSERT_TRUE(MakeDirectory(root + "/sub/deeper", false));
  test::WriteFile(root + "/sub/deeper/file", "x");
  ASSERT_EQ(::chmod((root + "/sub/deeper/file").c_str(), 0444), 0);
  ASSERT_EQ(::chmod((root + "/sub/deeper").c_str(), 0555), 0);
  ASSERT_EQ(::symlink(outside.Path().c_str(), (root + "/sub/dirlink").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "keep").c_str(), (root + "/filelink").c_str()), 0);
  test::WriteFile(dir / "plain", "x");

  EXPECT_FALSE(RemoveDirectoryTree(root, false));  // not empty
  EXPECT_FALSE(RemoveDirectoryTree(dir / "plain", true));
  EXPECT_TRUE(RemoveDirectoryTree(dir / "missing", true));
  EXPECT_TRUE(RemoveDirectoryTree(root, true));
  EXPECT_NE(::access(root.c_str(), F_OK), 0);
  EXPECT_EQ(test::ReadFile(outside / "keep"), "keep");
}

TEST(FileUtils, CreateDeleteAndSync) {
  test::TempDir dir;
  const std::string path = dir / "hidden";
  test::WriteFile(path, "old content");
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  EXPECT_TRUE(CreateHiddenFile(path));
  EXPECT_EQ(test::ReadFile(path), "");
  EXPECT_EQ(ModeOf(path) & 07777, 0600u);
  EXPECT_TRUE(FsyncFile(path));
  EXPECT_TRUE(FsyncDirectory(dir.Path()));
  EXPECT_FALSE(FsyncDirectory(path));

  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_TRUE(DeleteFileForce(path));
  EXPECT_TRUE(DeleteFileForce(path));  // already gone
  EXPECT_FALSE(DeleteFileForce(dir.Path()));
  EXPECT_FALSE(FsyncFile(path));

  test::LogCapture log;
  EXPECT_FALSE(CreateHiddenFile(dir / "no/such/dir"));
  EXPECT_TRUE(log.Has(google::GLOG_ERROR, "CreateFile() failed[2]: " + (dir / "no/such/dir")));
}

TEST(JoinPath, OneSeparatorAndAtMostPathMax) {
  const std::string longBase(PATH_MAX - 11, 'b');
  struct Case {
    std::string base;
    std::string more;
    std::optional<std::string> joined;
  };
  const Case cases[] = {
      {"/a", "b", "/a/b"},
      {"/a/", "b", "/a/b"},
      {"/a", "/b", "/a/b"},
      {"/a", "", "/a"},
      {longBase, "123456789", longBase + "/123456789"},  // PATH_MAX - 1 characters
      {longBase, "1234567890", std::nullopt},
      {std::string(PATH_MAX - 10, 'b'), std::string(20, 'n'), std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JoinPath(c.base, c.more), c.joined) << c.base.size() << " + " << c.more;
  }
}

}  // namespace
}  // namespace morvex::index
