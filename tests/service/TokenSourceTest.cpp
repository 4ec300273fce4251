#include "service/TokenSource.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "config/KelmConfig.h"
#include "store/ContentProvider.h"
#include "support/TempDir.h"

namespace morvex::service {
namespace {

TEST(TokenSource, TheOptionWinsThenTheFileThenTheEnvironment) {
  test::TempDir dir;
  const std::string file = dir / "pw";
  test::WriteFile(file, "from file\nsecond line ignored\n");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  const std::optional<std::string> none;
  EXPECT_EQ(ChooseToken("from -t", file, "from env").token, "from -t");
  EXPECT_EQ(ChooseToken(none, file, "from env").token, "from file");
  EXPECT_EQ(ChooseToken(none, none, "from env").token, "from env");
  EXPECT_EQ(ChooseToken(none, none, "").token, std::nullopt);
  EXPECT_EQ(ChooseToken(none, none, nullptr).token, std::nullopt);
  // A file that cannot be used is an error even with the variable set:
  // the user asked for the file.
  EXPECT_FALSE(ChooseToken(none, dir / "missing", "from env").error.empty());
}

TEST(TokenSource, OnlyAPrivateRegularFileIsRead) {
  test::TempDir dir;
  struct Case {
    const char* name;
    const char* content;
    mode_t mode;
    const char* token;  // null: refused
    const char* says;
  };
  const Case cases[] = {
      {"plain", "s3cret", 0600, "s3cret", ""},
      {"crlf", "s3cret\r\n", 0400, "s3cret", ""},
      {"spaces", " correct horse \n", 0600, " correct horse ", ""},
      {"group", "s3cret\n", 0640, nullptr, "(mode 0640): run chmod 600 "},
      {"others", "s3cret\n", 0604, nullptr, "(mode 0604): run chmod 600 "},
      {"empty", "\n", 0600, nullptr, "empty"},
  };
  for (const Case& c : cases) {
    const std::string path = dir / c.name;
    test::WriteFile(path, c.content);
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    const TokenChoice choice = ReadTokenFile(path);
    if (c.token != nullptr) {
      EXPECT_EQ(choice.token, c.token) << c.name << ": " << choice.error;
      EXPECT_EQ(choice.error, "") << c.name;
    } else {
      EXPECT_EQ(choice.token, std::nullopt) << c.name;
      EXPECT_NE(choice.error.find(c.says), std::string::npos) << c.name << ": " << choice.error;
      EXPECT_NE(choice.error.find(path), std::string::npos) << c.name;
    }
  }
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_NE(ReadTokenFile(dir / "fifo").error.find("not a regular file"), std::string::npos);
  EXPECT_NE(ReadTokenFile(dir.Path()).error.find("not a regular file"), std::string::npos);
  EXPECT_NE(ReadTokenFile(dir / "missing").error.find("No such file"), std::string::npos);
}

// A password from a file or the environment seeds the first start only:
// once one is stored, it stays (changed by 'config set password').
TEST(TokenSource, AStoredPasswordIsKept) {
  test::TempDir metadir;
  ASSERT_TRUE(store::InitContentFramework(metadir.Path()));
  std::optional<std::string> token = "from env";
  KeepStoredToken(token);
  EXPECT_EQ(token, "from env");  // nothing stored yet
  config::CKelmConfigManager config;
  config.SetToken("set since");
  ASSERT_TRUE(config.Save());
  KeepStoredToken(token);
  EXPECT_EQ(token, std::nullopt);
  store::ShutdownContentFramework();
}

}  // namespace
}  // namespace morvex::service
