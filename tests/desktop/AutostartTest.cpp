#include "desktop/Autostart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "desktop/DesktopTestSupport.h"
#include "support/TempDir.h"

namespace morvex::desktop {
namespace {

TEST(AutostartTest, CreateMakesAValidEntryForThisProgramAndRemoveTakesItAway) {
  test::TempConfigHome home;
  const Autostart autostart;
  EXPECT_EQ(autostart.File(), home.AutostartFile());
  EXPECT_FALSE(autostart.Exists());
  ASSERT_TRUE(autostart.Create());  // the folder is made on the way
  EXPECT_TRUE(autostart.Exists());
  const std::string entry = morvex::test::ReadFile(home.AutostartFile());
  EXPECT_EQ(entry, Autostart::EntryFor(std::filesystem::read_symlink("/proc/self/exe").string()));
  for (const char* line : {"[Desktop Entry]\n", "Type=Application\n", "Name=Morvex\n", "Icon=morvex\n",
                           "X-GNOME-Autostart-enabled=true\n"}) {
    EXPECT_NE(entry.find(line), std::string::npos) << line;
  }
  if (std::system("command -v desktop-file-validate >/dev/null") == 0) {
    EXPECT_EQ(std::system(("desktop-file-validate '" + home.AutostartFile() + "'").c_str()), 0);
  }
  EXPECT_TRUE(autostart.Remove());
  EXPECT_FALSE(autostart.Exists());
  EXPECT_TRUE(autostart.Remove()) << "removing what is not there is no failure";
}

TEST(AutostartTest, ExecQuotesAndEscapesAsDesktopEntriesRequire) {
  const struct {
    const char* path;
    const char* word;
  } cases[] = {
      {"/usr/bin/morvex", "/usr/bin/morvex"},
      {"/opt/my apps/morvex", "\"/opt/my apps/morvex\""},
      {"/opt/a\"b", "\"/opt/a\\\\\"b\""},
      {"/opt/a\\b", "\"/opt/a\\\\\\\\b\""},
      {"/opt/$HOME/morvex", "\"/opt/\\\\$HOME/morvex\""},
      {"/opt/100%/morvex", "/opt/100%%/morvex"},
  };
  for (const auto& c : cases) EXPECT_EQ(Autostart::ExecWord(c.path), c.word) << c.path;
  EXPECT_NE(Autostart::EntryFor("/opt/my apps/morvex").find("Exec=\"/opt/my apps/morvex\"\n"), std::string::npos);
}

TEST(AutostartTest, AFileTheUserPutThereIsReplacedOnlyByCreate) {
  test::TempConfigHome home;
  std::filesystem::create_directories(std::filesystem::path(home.AutostartFile()).parent_path());
  morvex::test::WriteFile(home.AutostartFile(), "[Desktop Entry]\nName=Mine\n");
  const Autostart autostart;
  EXPECT_TRUE(autostart.Exists());
  EXPECT_EQ(morvex::test::ReadFile(home.AutostartFile()), "[Desktop Entry]\nName=Mine\n");
  ASSERT_TRUE(autostart.Create());
  EXPECT_NE(morvex::test::ReadFile(home.AutostartFile()).find("Name=Morvex\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(home.AutostartFile() + ".morvex-new"));
}

}  // namespace
}  // namespace morvex::desktop
