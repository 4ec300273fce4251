#include "platform/InstanceLock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/Metadir.h"
#include "support/TempDir.h"

namespace morvex::platform {
namespace {

using namespace std::chrono_literals;

TEST(InstanceLock, SecondHolderIsRefusedAndAWaiterGetsItAfterRelease) {
  test::TempDir dir;
  InstanceLock first;
  ASSERT_EQ(first.TryAcquire(dir.Path(), "alice"), InstanceLock::Result::kAcquired);
  EXPECT_EQ(first.Path(), dir / "Velkran-AppMutex-alice");

  InstanceLock second;
  EXPECT_EQ(second.TryAcquire(dir.Path(), "alice"), InstanceLock::Result::kAlreadyRunning);
  InstanceLock otherUser;
  EXPECT_EQ(otherUser.TryAcquire(dir.Path(), "bob"), InstanceLock::Result::kAcquired);

  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    InstanceLock third;
    acquired = third.AcquireWaiting(dir.Path(), "alice") == InstanceLock::Result::kAcquired;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(acquired);
  first.Release();
  waiter.join();
  EXPECT_TRUE(acquired);
}

TEST(AppDir, CreatesAPrivateFolderAndOnlyReplacesAnEmptyFile) {
  test::TempDir dir;
  struct Case {
    const char* what;
    void (*prepare)(const std::string& path);
    bool ok;
  };
  const Case cases[] = {
      {"nothing there", [](const std::string&) {}, true},
      {"empty file", [](const std::string& p) { test::WriteFile(p, ""); }, true},
      {"file with data", [](const std::string& p) { test::WriteFile(p, "keep me"); }, false},
      {"symbolic link", [](const std::string& p) { ASSERT_EQ(::symlink("/tmp", p.c_str()), 0); }, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string metadir = dir / ("m" + std::to_string(n++));
    ASSERT_EQ(::mkdir(metadir.c_str(), 0755), 0);
    const std::string target = metadir + "/Morvex";
    c.prepare(target);
    const AppDirResult result = EnsureAppDir(metadir);
    EXPECT_EQ(result.ok, c.ok) << result.error;
    struct stat info {};
    ASSERT_EQ(::lstat(target.c_str(), &info), 0);
    if (c.ok) {
      EXPECT_TRUE(S_ISDIR(info.st_mode));
      EXPECT_EQ(info.st_mode & 0777, 0700u);
    } else {
      EXPECT_FALSE(result.error.empty());
      EXPECT_FALSE(S_ISDIR(info.st_mode));  // left exactly as it was
    }
  }
  EXPECT_EQ(test::ReadFile(dir / "m2/Morvex"), "keep me");
}

}  // namespace
}  // namespace morvex::platform
