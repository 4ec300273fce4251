#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "peer/PeerFixture.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace morvex::peer {
namespace {

constexpr const char* kTree = "11111111-2222-4333-8444-555555555555";
constexpr const char* kSync = "66666666-7777-4888-9999-aaaaaaaaaaaa";
constexpr const char* kUnknownTree = "11111111-2222-4333-8444-000000000000";
// One entry more than a clock in a message may have.
constexpr int kTooLongClock = 1025;

// What came back for one MC_GET_REQUEST: the part's bytes or an error code.
struct GetAnswer {
  int code = 0;
  int errcode = 0;
  std::string data;
};

class FileHandlersTest : public PeerFixture {
 protected:
  void SetUp() override {
    PeerFixture::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(Db().Exec("INSERT INTO Tree (id, tree_uuid, tree_root, sync_uuid) VALUES (1, '" + std::string(kTree) +
                          "', '" + tree_.Path() + "', '" + kSync + "')"));
    test::WriteFile(tree_ / "data.bin", "0123456789");
  }

  GetAnswer Get(const std::string& path, int64_t offset, int32_t length, const std::string& tree = kTree,
                const std::vector<std::string>& uuids = {}, const std::vector<int32_t>& vclock = {}) {
    qo::MsgGetRequest get;
    get.set_transfer(77);
    get.set_tree_uuid(tree);
    get.set_path(path);
    get.mutable_part()->set_offset(offset);
    get.mutable_part()->set_length(length);
    for (const auto& uuid : uuids) get.add_uuids(uuid);
    for (const int32_t counter : vclock) get.add_vclock(counter);
    GetAnswer answer;
    std::string body;
    EXPECT_EQ(Ask(qo::MC_GET_REQUEST, &get, answer.code, body), 0);
    if (answer.code == qo::MC_GET_RESPONSE) {
      qo::MsgGetResponse part;
      EXPECT_TRUE(part.ParseFromString(body));
      EXPECT_EQ(part.transfer(), 77);
      EXPECT_EQ(part.path(), path);
      EXPECT_EQ(part.part().offset(), offset);
      EXPECT_EQ(part.part().length(), length);
      answer.data = part.part_data();
    } else if (answer.code == qo::MC_ERROR) {
      answer.errcode = ErrorCodeOf(answer.code, body);
    } else if (answer.code == qo::MC_GET_ERROR) {
      qo::MsgGetError refusal;
      EXPECT_TRUE(refusal.ParseFromString(body));
      EXPECT_EQ(refusal.transfer(), 77);
      EXPECT_EQ(refusal.part().offset(), offset);
      answer.errcode = refusal.errcode();
    }
    return answer;
  }

  // The MC_ERROR code of an answer, or 0 for another answer.
  static int ErrorCodeOf(int code, const std::string& body) {
    qo::MsgError error;
    return code == qo::MC_ERROR && error.ParseFromString(body) ? error.errcode() : 0;
  }

  test::TempDir tree_;
};

TEST_F(FileHandlersTest, APartIsServedOnlyWhenItLiesWhollyInsideAFileOfTheTree) {
  test::TempDir outside;
  test::WriteFile(outside / "secret", "do not serve");
  ASSERT_EQ(::symlink(outside.Path().c_str(), (tree_ / "out").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "secret").c_str(), (tree_ / "secret-link").c_str()), 0);
  ASSERT_EQ(::mkdir((tree_ / "folder").c_str(), 0755), 0);
  test::WriteFile(tree_ / "big.bin", std::string(1048576, 'b'));
  StartRouter();
  test::LogCapture logs;

  constexpr int kServed = -1;
  struct Case {
    const char* path;
    int64_t offset;
    int32_t length;
    int expected;  // kServed or the MC_GET_ERROR code
    const char* data = "";
    const char* tree = kTree;
  };
  const Case cases[] = {
      {"/data.bin", 0, 10, kServed, "0123456789"},
      {"/data.bin", 6, 4, kServed, "6789"},  // ends exactly at the end
      {"/data.bin", 7, 4, qo::ZE_BAD_PART},  // one byte past it
      {"/data.bin", 10, 1, qo::ZE_BAD_PART},
      {"/data.bin", 10, 0, kServed},
      {"/data.bin", 1000000, 0, kServed},
      {"/data.bin", -1, 1, qo::ZE_BAD_PART},
      {"/data.bin", 0, 1048577, qo::ZE_BAD_PART},
      {"/data.bin", 0, -1, qo::ZE_BAD_PART},  // as unsigned: far too large
      {"/big.bin", 0, 1048576, kServed},      // the limit itself is allowed
      {"/folder", 0, 0, qo::ZE_BAD_PART},
      {"/missing.bin", 0, 1, qo::ZE_BAD_PATH},
      {"/missing.bin", 0, 0, qo::ZE_BAD_PATH},
      {"/../../etc/passwd", 0, 10, qo::ZE_BAD_PATH},
      {"/data.bin/../../../etc/passwd", 0, 10, qo::ZE_BAD_PATH},
      {"/out/secret", 0, 4, qo::ZE_BAD_PATH},
      {"/secret-link", 0, 4, qo::ZE_BAD_PATH},
      {"data.bin", 0, 4, qo::ZE_BAD_PATH},
      {"//data.bin", 0, 4, qo::ZE_BAD_PATH},
      {"/data.bin", 0, 4, qo::ZE_BAD_TREE, "", kUnknownTree},
      {"/data.bin", 0, 4, qo::ZE_BAD_UUID, "", "not-a-uuid"},
  };
  for (const Case& c : cases) {
    const GetAnswer answer = Get(c.path, c.offset, c.length, c.tree);
    if (c.expected == kServed) {
      ASSERT_EQ(answer.code, qo::MC_GET_RESPONSE) << c.path << " @" << c.offset << " error " << answer.errcode;
      if (std::string(c.path) == "/big.bin") {
        EXPECT_EQ(answer.data.size(), 1048576u);
      } else {
        EXPECT_EQ(answer.data, c.data) << c.path << " @" << c.offset;
      }
    } else {
      ASSERT_EQ(answer.code, qo::MC_GET_ERROR) << c.path << " @" << c.offset;
      EXPECT_EQ(answer.errcode, c.expected) << c.path << " @" << c.offset << " +" << c.length;
    }
  }
  EXPECT_TRUE(logs.Has(google::GLOG_ERROR, "ReadFile() not enough data: 3, 4, " + tree_ / "data.bin"));
  EXPECT_TRUE(logs.Has(google::GLOG_ERROR, "ReadFile() encountered FileEnd: " + tree_ / "data.bin"));
  EXPECT_TRUE(
      logs.Has(google::GLOG_WARNING, "CreateFile() failed[" + std::to_string(ENOENT) + "]: " + tree_ / "missing.bin"));

  int code = 0;
  std::string body;
  qo::MsgListRequest notAGet;  // field 1 is text here, a number in a get request
  notAGet.set_root("/data.bin");
  ASSERT_EQ(Ask(qo::MC_GET_REQUEST, &notAGet, code, body), 0);
  EXPECT_EQ(ErrorCodeOf(code, body), qo::ZE_BAD_FORMAT);
}

TEST_F(FileHandlersTest, APartIsServedOnlyForTheVersionTheRequesterListed) {
  // The record's clock is {3, 5}: component 1 belongs to clock-a.
  ASSERT_TRUE(Db().Exec("INSERT INTO VCUuid VALUES (1, 'clock-a', 1)"));
  ASSERT_TRUE(Db().Exec("INSERT INTO File (tree_id, path, type, status, usn, sha1, local_clock, other_clock) VALUES "
                        "(1, '" + tree_ / "data.bin" + "', 0, 1, 1, '', 3, x'05000000')"));
  test::WriteFile(tree_ / "unrecorded.bin", "abc");
  StartRouter();

  struct Case {
    const char* path;
    std::vector<std::string> uuids;
    std::vector<int32_t> vclock;
    bool served;
  };
  const Case cases[] = {
      {"/data.bin", {kTree, "clock-a"}, {3, 5}, true},
      {"/data.bin", {"clock-a", kTree}, {5, 3}, true},                   // the requester's own order
      {"/data.bin", {kTree, "clock-a", "clock-new"}, {3, 5, 0}, true},   // trailing zeros mean nothing
      {"/data.bin", {kTree, "clock-a"}, {3, 4}, false},
      {"/data.bin", {kTree, "clock-a"}, {4, 5}, false},
      {"/data.bin", {kTree}, {3}, false},
      {"/data.bin", {kTree, "clock-a", "clock-new"}, {3, 5, 1}, false},
      {"/data.bin", {}, {1}, true},  // without both lists the version is not checked
      {"/data.bin", {kTree}, {}, true},
      {"/unrecorded.bin", {kTree}, {1}, false},
      {"/unrecorded.bin", {}, {}, true},
  };
  for (const Case& c : cases) {
    const GetAnswer answer = Get(c.path, 0, 3, kTree, c.uuids, c.vclock);
    const std::string where = std::string(c.path) + " clock " + ::testing::PrintToString(c.vclock);
    if (c.served) {
      EXPECT_EQ(answer.code, qo::MC_GET_RESPONSE) << where << " error " << answer.errcode;
    } else {
      EXPECT_EQ(answer.code, qo::MC_GET_ERROR) << where;
      EXPECT_EQ(answer.errcode, qo::ZE_VCLOCK_MISMATCH) << where;
    }
  }
}

TEST_F(FileHandlersTest, APartRequestOnlyReadsTheClockNumberingAndBoundsItsClock) {
  ASSERT_TRUE(Db().Exec("INSERT INTO VCUuid VALUES (1, 'clock-a', 1)"));
  ASSERT_TRUE(Db().Exec("INSERT INTO File (tree_id, path, type, status, usn, sha1, local_clock, other_clock) VALUES "
                        "(1, '" + tree_ / "data.bin" + "', 0, 1, 1, '', 3, x'05000000')"));
  StartRouter();
  // Trees this one never heard of: with zero counters they change nothing,
  // one non-zero counter is a version this tree has not got.
  std::vector<std::string> uuids = {kTree, "clock-a"};
  std::vector<int32_t> same = {3, 5};
  for (int i = 0; i < 500; ++i) {
    uuids.push_back("made-up-" + std::to_string(i));
    same.push_back(0);
  }
  std::vector<int32_t> newer = same;
  newer.push_back(1);
  uuids.push_back("made-up-last");
  same.push_back(0);
  EXPECT_EQ(Get("/data.bin", 0, 3, kTree, uuids, same).code, qo::MC_GET_RESPONSE);
  EXPECT_EQ(Get("/data.bin", 0, 3, kTree, uuids, newer).errcode, qo::ZE_VCLOCK_MISMATCH);
  EXPECT_EQ(Count(store::uris::VCUuid()), 1);

  // A clock beyond the bound is refused before anything is looked up.
  const std::vector<std::string> tooMany(kTooLongClock, kTree);
  EXPECT_EQ(Get("/data.bin", 0, 3, kTree, tooMany, {3}).errcode, qo::ZE_BAD_FORMAT);
  EXPECT_EQ(Get("/data.bin", 0, 3, kTree, {kTree}, std::vector<int32_t>(kTooLongClock, 0)).errcode,
            qo::ZE_BAD_FORMAT);
}

TEST_F(FileHandlersTest, AFolderListsItsFilesAndFoldersButNoLinksNorTheMetadataFolder) {
  ASSERT_EQ(::mkdir((tree_ / ".Morvex").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((tree_ / ".morvex").c_str(), 0755), 0);
  test::WriteFile(tree_ / "read-only.txt", "12345");
  ASSERT_EQ(::chmod((tree_ / "read-only.txt").c_str(), 0444), 0);
  const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (tree_ / "read-only.txt").c_str(), times, 0), 0);
  ASSERT_EQ(::symlink("data.bin", (tree_ / "link").c_str()), 0);
  ASSERT_EQ(::symlink("/", (tree_ / "root-link").c_str()), 0);
  ASSERT_EQ(::mkfifo((tree_ / "fifo").c_str(), 0644), 0);
  test::WriteFile(tree_ / "bad-\xff-name", "x");
  StartRouter();

  qo::MsgListRequest list;
  list.set_root(tree_.Path());
  int code = 0;
  std::string body;
  ASSERT_EQ(Ask(qo::MC_LIST_REQUEST, &list, code, body), 0);
  ASSERT_EQ(code, qo::MC_LIST_RESPONSE) << ErrorCodeOf(code, body);
  qo::MsgListResponse listing;
  ASSERT_TRUE(listing.ParseFromString(body));
  EXPECT_EQ(listing.root(), tree_.Path());
  std::map<std::string, qo::FileStat> stats;
  for (const auto& stat : listing.stats()) stats[stat.name()] = stat;
  std::vector<std::string> names;
  for (const auto& [name, stat] : stats) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{".morvex", "data.bin", "read-only.txt"}));
  EXPECT_EQ(stats[".morvex"].type(), qo::DIR);
  EXPECT_EQ(stats[".morvex"].attr(), 0x10);
  EXPECT_EQ(stats[".morvex"].length(), 0);
  EXPECT_EQ(stats["data.bin"].attr(), 0);
  EXPECT_EQ(stats["read-only.txt"].type(), qo::REG);
  EXPECT_EQ(stats["read-only.txt"].attr(), 0x1);
  EXPECT_EQ(stats["read-only.txt"].length(), 5);
  EXPECT_EQ(stats["read-only.txt"].mtime(), 1700000000123);

  list.set_root("/");
  ASSERT_EQ(Ask(qo::MC_LIST_REQUEST, &list, code, body), 0);
  ASSERT_EQ(code, qo::MC_LIST_RESPONSE) << ErrorCodeOf(code, body);
  ASSERT_TRUE(listing.ParseFromString(body));
  EXPECT_EQ(listing.root(), "/");
  EXPECT_TRUE(std::any_of(listing.stats().begin(), listing.stats().end(),
                          [](const qo::FileStat& stat) { return stat.name() == "etc" && stat.type() == qo::DIR; }));

  const std::string refused[] = {"C:", "c:/Users", "", "tmp", tree_.Path() + "/", tree_.Path() + "/../x",
                                 tree_ / "data.bin", tree_ / "missing"};
  for (const auto& root : refused) {
    list.set_root(root);
    ASSERT_EQ(Ask(qo::MC_LIST_REQUEST, &list, code, body), 0);
    EXPECT_EQ(ErrorCodeOf(code, body), qo::ZE_BAD_PATH) << root;
  }
}

class ListRootTest : public FileHandlersTest {
 protected:
  void TearDown() override {
    FileHandlersTest::TearDown();  // the workers are gone: the environment is ours again
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  void SetEnv(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(ListRootTest, MountedFileSystemsComeFirstThenTheHomeAndTheUserFoldersThatExist) {
  test::TempDir home;
  test::TempDir config;
  for (const char* folder : {"Desktop", "Music", "Docs", "Videos"}) {
    ASSERT_EQ(::mkdir((home / folder).c_str(), 0755), 0);
  }
  test::WriteFile(config / "user-dirs.dirs",
                  "# written by xdg-user-dirs-update\n"
                  "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n"
                  "XDG_PICTURES_DIR=\"$HOME/Missing\"\n"
                  "XDG_VIDEOS_DIR=\"$HOME/\"\n");  // switched off, whatever ~/Videos holds
  SetEnv("HOME", home.Path());
  SetEnv("XDG_CONFIG_HOME", config.Path());
  StartRouter();

  int code = 0;
  std::string body;
  ASSERT_EQ(Ask(qo::MC_LIST_ROOT_REQUEST, nullptr, code, body), 0);
  ASSERT_EQ(code, qo::MC_LIST_ROOT_RESPONSE) << ErrorCodeOf(code, body);
  qo::MsgListRootResponse answer;
  ASSERT_TRUE(answer.ParseFromString(body));

  std::vector<std::pair<int, std::string>> folders;
  bool rootSeen = false;
  for (const auto& root : answer.roots()) {
    if (root.type() == qo::RT_DRIVE) {
      EXPECT_TRUE(folders.empty()) << "a drive after the folders: " << root.target();
      EXPECT_NE(root.target(), "/proc");
      EXPECT_NE(root.target(), "/sys");
      if (root.target() == "/") {
        rootSeen = true;
        EXPECT_EQ(root.udata(), "本地磁盘");
      }
    } else {
      EXPECT_FALSE(root.has_udata());
      folders.emplace_back(root.type(), root.target());
    }
  }
  EXPECT_TRUE(rootSeen);
  const std::vector<std::pair<int, std::string>> expected = {{qo::RT_HOME, home.Path()},
                                                             {qo::RT_DESKTOP, home / "Desktop"},
                                                             {qo::RT_AUDIO, home / "Music"},
                                                             {qo::RT_DOCUMENT, home / "Docs"}};
  EXPECT_EQ(folders, expected);

  qo::MsgListRequest withBody;
  withBody.set_root("/");
  ASSERT_EQ(Ask(qo::MC_LIST_ROOT_REQUEST, &withBody, code, body), 0);
  EXPECT_EQ(ErrorCodeOf(code, body), qo::ZE_BAD_FORMAT);
}

}  // namespace
}  // namespace morvex::peer
