#include "aux/Bookmarks.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace morvex::aux {
namespace {

TEST(Bookmarks, FoldersComeAndGoOnceAndOtherLinesStay) {
  test::TempDir dir;
  const std::string file = dir / "gtk-3.0/bookmarks";  // folder created on first use
  Bookmarks bookmarks(file);
  ASSERT_TRUE(bookmarks.Add("/home/u/My Docs"));
  test::WriteFile(file, test::ReadFile(file) + "sftp://server/share Server\n");
  ASSERT_TRUE(bookmarks.Add("/home/u/My Docs"));  // never twice
  ASSERT_TRUE(bookmarks.Add("/srv/Fotos/ü"));
  EXPECT_EQ(test::ReadFile(file),
            "file:///home/u/My%20Docs\nsftp://server/share Server\nfile:///srv/Fotos/%C3%BC\n");
  ASSERT_TRUE(bookmarks.Remove("/home/u/My Docs"));
  ASSERT_TRUE(bookmarks.Remove("/not/there"));
  EXPECT_EQ(test::ReadFile(file), "sftp://server/share Server\nfile:///srv/Fotos/%C3%BC\n");
}

TEST(Bookmarks, OnlyAServiceWithADesktopKeepsThem) {
  test::TempDir dir;
  const std::string file = dir / "gtk-3.0/bookmarks";
  const BookmarkHooks headless = BookmarkHooksFor(true, file);
  EXPECT_FALSE(headless.added);
  EXPECT_FALSE(headless.removed);
  const BookmarkHooks desktop = BookmarkHooksFor(false, file);
  ASSERT_TRUE(desktop.added && desktop.removed);
  desktop.added("/home/u/Docs");
  EXPECT_EQ(test::ReadFile(file), "file:///home/u/Docs\n");
  desktop.removed("/home/u/Docs");
  EXPECT_EQ(test::ReadFile(file), "");
}

}  // namespace
}  // namespace morvex::aux
