#include "aux/AutoUpdater.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <filesystem>

#include "aux/LoopbackHttpServer.h"
#include "aux/UpdateTexts.h"
#include "support/TempDir.h"

namespace morvex::aux {
namespace {

std::string Sha256(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    static constexpr char kHex[] = "0123456789abcdef";
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xf];
  }
  return hex;
}

TEST(AutoUpdater, VersionsAreFourNumbersComparedAsNumbers) {
  std::array<long, 4> numbers{};
  ASSERT_TRUE(ParseVersion("1.2.10.0", numbers));
  EXPECT_EQ(numbers, (std::array<long, 4>{1, 2, 10, 0}));
  for (const char* bad : {"", "1.2", "1.2.3", "1.2.3.4.5", "1.a.3.4", "1..3.4", "1.2.3.4 "}) {
    EXPECT_FALSE(ParseVersion(bad, numbers)) << bad;
  }
  struct Case {
    const char* offered;
    const char* running;
    bool newer;
  };
  for (const Case& c : {Case{"1.2.10.0", "1.2.9.9", true}, Case{"1.2.3.4", "1.2.3.4", false},
                        Case{"1.2.3.3", "1.2.3.4", false}, Case{"2.0.0.0", "1.9.9.9", true},
                        Case{"1.3", "1.2.3.4", false}, Case{"1.2.3.5", "garbage", false}}) {
    EXPECT_EQ(IsNewerVersion(c.offered, c.running), c.newer) << c.offered << " vs " << c.running;
  }
}

TEST(AutoUpdater, InfoFileKeepsTheOlderFormatAndAddsTheChecksum) {
  UpdateInfo info = ParseUpdateInfo("version:1.2.3.4\npackage:morvex-1.2.3.4 trailing\nsha256:ABCDEF\n");
  EXPECT_EQ(info.version, "1.2.3.4");
  EXPECT_EQ(info.package, "morvex-1.2.3.4");
  EXPECT_EQ(info.sha256, "abcdef");
  info = ParseUpdateInfo("version:1.2.3.4\n");
  EXPECT_EQ(info.version, "1.2.3.4");
  EXPECT_EQ(info.package, "");
  EXPECT_EQ(info.sha256, "");
}

// A program in a folder of its own, at version 1.0.0.0, and an update
// server with TLS on loopback.
class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Running());
    test::WriteFile(program_, kOld);
    ASSERT_EQ(::chmod(program_.c_str(), 0755), 0);
  }
  UpdateOptions Options(bool accept = true) const {
    return UpdateOptions{program_, "1.0.0.0", [accept](const std::string&, const std::string&) { return accept; },
                         server_.CaFile()};
  }
  std::string BaseUrl() const { return server_.Origin() + "/"; }
  void ExpectProgramUnchanged() const {
    EXPECT_EQ(test::ReadFile(program_), kOld);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.Path()), {}), 1) << "left files behind";
  }

  static constexpr const char* kOld = "old program";
  const std::string kNew = std::string(100000, 'n');
  test::LoopbackHttpServer server_{true};
  test::TempDir folder_;
  std::string program_ = folder_ / "morvex";
};

TEST_F(UpdateTest, ANewerVerifiedPackageReplacesTheProgramAndKeepsTheOldOne) {
  server_.Put("update.info", "version:1.0.0.1\npackage:morvex-new\nsha256:" + Sha256(kNew) + "\n");
  server_.Put("morvex-new", kNew);
  std::string asked;
  UpdateOptions options = Options();
  options.confirm = [&](const std::string& running, const std::string& offered) {
    asked = running + " -> " + offered;
    return true;
  };
  ASSERT_EQ(RunUpdate(BaseUrl(), options), kUpdateInstalled);
  EXPECT_EQ(asked, "1.0.0.0 -> 1.0.0.1");
  EXPECT_EQ(test::ReadFile(program_), kNew);
  EXPECT_EQ(test::ReadFile(folder_ / "OldExecutable.bak"), kOld);
  struct stat info {};
  ASSERT_EQ(::stat(program_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  EXPECT_EQ(server_.Requests(), (std::vector<std::string>{"AutoUpdateAgent /update.info",
                                                          "AutoUpdateAgent /morvex-new"}));
}

TEST_F(UpdateTest, EveryRefusalLeavesTheProgramAsItWas) {
  struct Case {
    const char* name;
    std::string info;
    int result;
  };
  const std::string sum = "\nsha256:" + Sha256(kNew) + "\n";
  server_.Put("morvex-new", kNew);
  server_.Put("morvex-cut.truncated", kNew);
  const std::vector<Case> cases = {
      {"same version", "version:1.0.0.0\npackage:morvex-new" + sum, kUpdateNotNewer},
      {"two numbers", "version:1.1\npackage:morvex-new" + sum, kUpdateNotNewer},
      {"no package line", "version:1.0.0.1" + sum, kUpdateCannotOpen},
      {"no checksum", "version:1.0.0.1\npackage:morvex-new\n", kUpdateCannotOpen},
      {"checksum mismatch", "version:1.0.0.1\npackage:morvex-new\nsha256:" + Sha256("other") + "\n",
       kUpdateCannotOpen},
      {"package missing", "version:1.0.0.1\npackage:nothing-here" + sum, kUpdateCannotOpen},
      {"partial download", "version:1.0.0.1\npackage:morvex-cut" + sum, kUpdateIncomplete},
      {"empty file", "", kUpdateEmptyInfo},
  };
  for (const Case& c : cases) {
    server_.Put("update.info", c.info);
    EXPECT_EQ(RunUpdate(BaseUrl(), Options()), c.result) << c.name;
    ExpectProgramUnchanged();
  }
  server_.Put("update.info", "version:1.0.0.1\npackage:morvex-new" + sum);
  EXPECT_EQ(RunUpdate(BaseUrl(), Options(false)), kUpdateNotReplaced) << "declined";
  ExpectProgramUnchanged();
}

TEST_F(UpdateTest, AProgramThatMayNotBeChangedIsNotTouched) {
  server_.Put("update.info", "version:1.0.0.1\npackage:morvex-new\nsha256:" + Sha256(kNew) + "\n");
  server_.Put("morvex-new", kNew);
  ASSERT_EQ(::chmod(program_.c_str(), 0555), 0);
  EXPECT_EQ(RunUpdate(BaseUrl(), Options()), kUpdateNotWritable);
  ASSERT_EQ(::chmod(program_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(folder_.Path().c_str(), 0555), 0);
  EXPECT_EQ(RunUpdate(BaseUrl(), Options()), kUpdateNotWritable);
  ASSERT_EQ(::chmod(folder_.Path().c_str(), 0755), 0);
  ExpectProgramUnchanged();
  EXPECT_EQ(server_.Requests().size(), 2u) << "the package is never fetched";
}

TEST(AutoUpdaterPlain, UpdateInfoOverPlainHttpIsRefused) {
  test::LoopbackHttpServer server;
  ASSERT_TRUE(server.Running());
  const std::string kNew = "new";
  server.Put("update.info", "version:9.0.0.0\npackage:morvex-new\nsha256:" + Sha256(kNew) + "\n");
  server.Put("morvex-new", kNew);
  test::TempDir folder;
  test::WriteFile(folder / "morvex", "old");
  const UpdateOptions options{folder / "morvex", "1.0.0.0", [](const std::string&, const std::string&) { return true; },
                              {}};
  EXPECT_EQ(RunUpdate(server.Origin() + "/", options), kUpdateCannotOpen);
  EXPECT_EQ(test::ReadFile(folder / "morvex"), "old");
  EXPECT_TRUE(server.Requests().empty());
}

// The checksum came over HTTPS: the package may then come from a plain
// HTTP mirror, and is still refused there when it is not the one named.
TEST_F(UpdateTest, AVerifiedPackageMayComeFromAPlainMirror) {
  test::LoopbackHttpServer mirror;
  ASSERT_TRUE(mirror.Running());
  mirror.Put("morvex-new", kNew);
  server_.Put("update.info",
              "version:1.0.0.1\npackage:" + mirror.Origin() + "/morvex-new\nsha256:" + Sha256("other") + "\n");
  EXPECT_EQ(RunUpdate(BaseUrl(), Options()), kUpdateCannotOpen);
  ExpectProgramUnchanged();
  server_.Put("update.info",
              "version:1.0.0.1\npackage:" + mirror.Origin() + "/morvex-new\nsha256:" + Sha256(kNew) + "\n");
  EXPECT_EQ(RunUpdate(BaseUrl(), Options()), kUpdateInstalled);
  EXPECT_EQ(test::ReadFile(program_), kNew);
}

TEST_F(UpdateTest, TheCheckTellsTheCallerWhatToShowAndWhetherToRestart) {
  const Deployment none;
  UpdateCheck check = CheckForUpdate(true, none, Options());
  EXPECT_EQ(check.result, kUpdateNoSource);
  EXPECT_STREQ(check.message, text::kUpdateNoSource);
  EXPECT_EQ(CheckForUpdate(false, none, Options()).message, nullptr) << "silent at start-up";

  Deployment deployment;
  deployment.updateHost = server_.Origin();
  server_.Put("update.info", "version:1.0.0.0\n");
  EXPECT_STREQ(CheckForUpdate(true, deployment, Options()).message, text::kUpdateNotNeeded);
  EXPECT_EQ(CheckForUpdate(false, deployment, Options()).message, nullptr);
  server_.Put("update.info", "version:1.0.0.1\npackage:missing\nsha256:" + Sha256(kNew) + "\n");
  EXPECT_STREQ(CheckForUpdate(true, deployment, Options()).message, text::kUpdateFailed);
  EXPECT_EQ(CheckForUpdate(true, deployment, Options(false)).message, nullptr) << "declined: nothing to say";

  server_.Put("morvex-new", kNew);
  server_.Put("update.info", "version:1.0.0.1\npackage:morvex-new\nsha256:" + Sha256(kNew) + "\n");
  check = CheckForUpdate(false, deployment, Options());
  EXPECT_EQ(check.result, kUpdateInstalled);
  EXPECT_STREQ(check.message, text::kUpdateDone);
  EXPECT_TRUE(check.restart);
}

}  // namespace
}  // namespace morvex::aux
