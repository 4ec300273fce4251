#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/InstanceLock.h"
#include "platform/Metadir.h"
#include "platform/UniqueFd.h"
#include "service/MorvexService.h"
#include "support/TempDir.h"

namespace morvex::service {
namespace {

constexpr uid_t kOtherUser = 65534;

// A service without workers or ports: enough for everything that happens
// before the workers start.
ComponentFactory Bare() {
  ComponentFactory factory;
  factory.watchTrees = false;
  factory.firstStart = HeadlessFirstStart;
  return factory;
}

struct Start {
  bool started = false;
  std::string uuid;
  std::string stderrText;
};

Start RunStart(const std::vector<std::string>& arguments) {
  CMorvexServiceApp app(arguments, Bare());
  app.SetShutdownLibraries(false);
  testing::internal::CaptureStderr();
  Start result;
  result.started = app.InitInstance();
  if (result.started) result.uuid = app.Config().Snapshot()->deviceUuid;
  app.ExitInstance();
  result.stderrText = testing::internal::GetCapturedStderr();
  return result;
}

size_t Entries(const std::string& dir) {
  const std::filesystem::directory_iterator listing(dir);
  return static_cast<size_t>(std::distance(begin(listing), end(listing)));
}

// Standard input is /dev/null while it lives: no terminal to ask.
class NoTerminal {
 public:
  NoTerminal() : saved_(::dup(STDIN_FILENO)) {
    platform::UniqueFd null(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    ::dup2(null.Get(), STDIN_FILENO);
  }
  ~NoTerminal() { ::dup2(saved_.Get(), STDIN_FILENO); }

 private:
  platform::UniqueFd saved_;
};

// A profile that someone else could write to is never used: the service
// refuses to start and leaves it as it found it.
TEST(StartRefusals, AProfileOthersCanWriteToIsRefused) {
  struct Case {
    const char* name;
    std::function<void(const std::string& appDir)> prepare;
    const char* says;
    bool needsRoot;
    std::string refused;  // what the case made unusable, relative to the folder
  };
  const auto file = [](const std::string& path, mode_t mode, uid_t owner) {
    test::WriteFile(path, "not touched");
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    ASSERT_EQ(::chown(path.c_str(), owner, static_cast<gid_t>(-1)), 0);
  };
  const std::vector<Case> cases = {
      {"folder of another user", [](const std::string& dir) { ASSERT_EQ(::chown(dir.c_str(), kOtherUser, kOtherUser), 0); },
       "belongs to uid 65534", true, ""},
      {"folder writable by all", [](const std::string& dir) { ASSERT_EQ(::chmod(dir.c_str(), 0777), 0); },
       "may write to it (mode 0777)", false, ""},
      {"folder writable by the group", [](const std::string& dir) { ASSERT_EQ(::chmod(dir.c_str(), 0770), 0); },
       "may write to it (mode 0770)", false, ""},
      {"database of another user", [&](const std::string& dir) { file(dir + "/Morvex.db", 0600, kOtherUser); },
       "belongs to uid 65534", true, "Morvex.db"},
      {"database writable by all", [&](const std::string& dir) { file(dir + "/Morvex.db", 0666, ::geteuid()); },
       "may write to it (mode 0666)", false, "Morvex.db"},
      {"journal of another user", [&](const std::string& dir) { file(dir + "/Morvex.db-wal", 0600, kOtherUser); },
       "belongs to uid 65534", true, "Morvex.db-wal"},
      {"database is a link", [](const std::string& dir) { ASSERT_EQ(::symlink("/elsewhere/Morvex.db", (dir + "/Morvex.db").c_str()), 0); },
       "not a regular file", false, "Morvex.db"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && ::geteuid() != 0) continue;  // chown needs root
    test::TempDir metadir;
    const std::string appDir = metadir / "Morvex";
    ASSERT_EQ(::mkdir(appDir.c_str(), 0700), 0);
    c.prepare(appDir);
    const std::string target = c.refused.empty() ? appDir : appDir + "/" + c.refused;
    struct stat before {};
    ASSERT_EQ(::lstat(target.c_str(), &before), 0);
    const size_t entries = Entries(appDir);

    const Start start = RunStart({"morvex", "--headless", "-t", "pw", "-m", metadir.Path()});
    EXPECT_FALSE(start.started);
    EXPECT_NE(start.stderrText.find("Refusing"), std::string::npos) << start.stderrText;
    EXPECT_NE(start.stderrText.find(c.says), std::string::npos) << start.stderrText;
    struct stat after {};
    ASSERT_EQ(::lstat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_size, before.st_size);
    // Nothing is written into a folder that is not ours alone (our own
    // folder gets the log of the refusal).
    if (c.refused.empty()) {
      EXPECT_EQ(Entries(appDir), entries);
    }
  }

  // Readable by others only: made private, and used.
  test::TempDir metadir;
  ASSERT_EQ(::mkdir((metadir / "Morvex").c_str(), 0755), 0);
  ASSERT_TRUE(platform::EnsureAppDir(metadir.Path()).ok);
  struct stat info {};
  ASSERT_EQ(::stat((metadir / "Morvex").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(StartRefusals, CreateChangesNothingUnlessConfirmed) {
  test::TempDir metadir;
  const std::vector<std::string> base = {"morvex", "--headless", "-t", "pw", "-m", metadir.Path()};
  const auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> arguments = base;
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  };
  const Start first = RunStart(base);
  ASSERT_TRUE(first.started) << first.stderrText;

  NoTerminal noTerminal;
  const Start refused = RunStart(with({"--create", "-n", "renamed"}));
  EXPECT_FALSE(refused.started);
  EXPECT_NE(refused.stderrText.find(kTextResetNotConfirmed), std::string::npos) << refused.stderrText;
  const Start again = RunStart(base);
  ASSERT_TRUE(again.started) << again.stderrText;
  EXPECT_EQ(again.uuid, first.uuid);  // the identity peers trust is kept

  for (const char* yes : {"--yes", "-y"}) {
    const Start confirmed = RunStart(with({"-c", yes}));
    ASSERT_TRUE(confirmed.started) << confirmed.stderrText;
    EXPECT_NE(confirmed.uuid, first.uuid);
  }
}

// Only the option itself asks to wait for the running instance; a word
// that merely contains its text is an ordinary second start, refused, and
// a word after "--" is no option at all: the command line is refused.
TEST(StartRefusals, OnlyTheRestartOptionWaitsForTheRunningInstance) {
  test::TempDir metadir;
  const platform::AppDirResult dir = platform::EnsureAppDir(metadir.Path());
  ASSERT_TRUE(dir.ok);
  platform::InstanceLock running;
  ASSERT_EQ(running.TryAcquire(dir.path, platform::CurrentUserName()), platform::InstanceLock::Result::kAcquired);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-n", "not--restart"}, kTextAlreadyRunning},
      {{"-n", "--restart"}, kTextAlreadyRunning},
      {{"--", "--restart"}, "unexpected word '--restart'"},
  };
  for (const auto& [extra, says] : cases) {
    SCOPED_TRACE(extra[1]);
    std::vector<std::string> arguments = {"morvex", "--headless", "-t", "pw", "-m", metadir.Path()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const Start start = RunStart(arguments);
    EXPECT_FALSE(start.started);
    EXPECT_NE(start.stderrText.find(says), std::string::npos) << start.stderrText;
  }
}

}  // namespace
}  // namespace morvex::service
