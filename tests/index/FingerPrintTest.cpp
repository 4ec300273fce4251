#include "index/FingerPrint.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <utility>

#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace morvex::index {
namespace {

// Answers IsCancel through a callback and counts the questions.
class CancelProbe : public CCancleCacuSha1 {
 public:
  explicit CancelProbe(std::function<bool()> answer) : answer_(std::move(answer)) {}
  bool IsCancel(int32_t treeId) override {
    EXPECT_EQ(treeId, 7);
    ++calls;
    return answer_();
  }
  int calls = 0;

 private:
  std::function<bool()> answer_;
};

TEST(GetSha1, KnownContents) {
  test::TempDir dir;
  struct Case {
    std::string content;
    const char* sha1;
  };
  const Case cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},  // several reads
  };
  CNCancleCacuSha1 never;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content.size());
    test::WriteFile(dir / "f", c.content);
    EXPECT_EQ(GetSha1(dir / "f", never, 1), c.sha1);
  }
}

TEST(GetSha1, CancelStopsAfterTheFirstBlock) {
  test::TempDir dir;
  test::WriteFile(dir / "big", std::string(3 * kSha1ReadSize, 'x'));
  CancelProbe cancel([] { return true; });
  EXPECT_EQ(GetSha1(dir / "big", cancel, 7), kSha1Cancelled);
  EXPECT_EQ(cancel.calls, 1);
}

TEST(GetSha1, AFileWrittenWhileItIsReadGivesNothing) {
  test::TempDir dir;
  const std::string path = dir / "growing";
  test::WriteFile(path, std::string(2 * kSha1ReadSize, 'x'));
  CancelProbe appendOnce([&path, done = false]() mutable {
    if (!done) std::ofstream(path, std::ios::binary | std::ios::app) << "more";
    done = true;
    return false;
  });
  test::LogCapture log;
  EXPECT_EQ(GetSha1(path, appendOnce, 7), std::nullopt);
  EXPECT_TRUE(log.Has(google::GLOG_WARNING, path));
}

TEST(GetSha1, OnlyRegularFilesAreFingerprinted) {
  test::TempDir dir;
  test::WriteFile(dir / "target", "data");
  ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // must not block
  ASSERT_EQ(::mkdir((dir / "dir").c_str(), 0755), 0);
  struct Case {
    const char* name;
    int err;
  };
  const Case cases[] = {{"missing", ENOENT}, {"link", ELOOP}, {"fifo", EINVAL}, {"dir", EISDIR}};
  CNCancleCacuSha1 never;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::LogCapture log;
    EXPECT_EQ(GetSha1(dir / c.name, never, 1), std::nullopt);
    EXPECT_TRUE(log.Has(google::GLOG_WARNING, "CreateFile() failed[" + std::to_string(c.err) + "]: " + (dir / c.name)));
  }
}

}  // namespace
}  // namespace morvex::index
