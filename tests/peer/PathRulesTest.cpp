#include "peer/PathRules.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/TempDir.h"

namespace morvex::peer {
namespace {

TEST(PathRulesTest, OnlyPlainRelativeComponentsPass) {
  struct Case {
    std::string path;
    bool valid;
  };
  const Case cases[] = {
      {"/a/b", true},
      {"/文档/über.txt", true},
      {"/...", true},
      {"/.hidden", true},
      {"/" + std::string(255, 'n'), true},
      {"/" + std::string(256, 'n'), false},
      {"/", false},
      {"", false},
      {"a/b", false},
      {"/../x", false},
      {"/a/../../x", false},
      {"/a/..", false},
      {"//x", false},
      {"/a//b", false},
      {"/a/", false},
      {"/a/./b", false},
      {"/.", false},
      {std::string("/a\0b", 4), false},
      {"/\xff.txt", false},
      {"/\xc0\xaf", false},           // overlong "/"
      {"/\xed\xa0\x80", false},       // a surrogate
      {"/caf\xc3", false},            // cut inside a character
  };
  for (const Case& c : cases) EXPECT_EQ(ValidWirePath(c.path), c.valid) << c.path;
}

TEST(PathRulesTest, NoLinkBelowTheRootIsFollowedAndMissingPartsAreFine) {
  test::TempDir tree;
  test::TempDir outside;
  ASSERT_EQ(::mkdir((tree / "in").c_str(), 0755), 0);
  test::WriteFile(tree / "in/f", "x");
  test::WriteFile(outside / "file", "secret");
  ASSERT_EQ(::symlink(outside.Path().c_str(), (tree / "link").c_str()), 0);
  ASSERT_EQ(::symlink("in", (tree / "inner").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "file").c_str(), (tree / "in/file-link").c_str()), 0);

  struct Case {
    const char* path;
    bool confined;
  };
  const Case cases[] = {
      {"/in/f", true},
      {"/in/not-yet/deeper.txt", true},
      {"/in/f/below-a-file", true},  // cannot exist; opening it fails later
      {"/link/file", false},
      {"/link", false},
      {"/inner/f", false},  // a link that stays inside is refused as well
      {"/in/file-link", false},
      {"/../outside", false},
  };
  for (const Case& c : cases) {
    const auto full = ConfinedPath(tree.Path(), c.path);
    EXPECT_EQ(full.has_value(), c.confined) << c.path;
    if (full) {
      EXPECT_EQ(*full, tree.Path() + c.path);
    }
  }
  EXPECT_EQ(ConfinedPath(tree.Path() + "/", "/in/f"), tree.Path() + "/in/f");
  std::string tooLong;
  while (tooLong.size() < 5000) tooLong += "/" + std::string(250, 'n');
  EXPECT_TRUE(ValidWirePath(tooLong));
  EXPECT_FALSE(ConfinedPath(tree.Path(), tooLong));  // longer than PATH_MAX
}

}  // namespace
}  // namespace morvex::peer
