#include "core/Text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace morvex::core {
namespace {

// Sets or clears MORVEX_LOCALEDIR for one test, then restores it.
class LocaleDirVariable {
 public:
  explicit LocaleDirVariable(const char* value) {
    if (const char* old = std::getenv("MORVEX_LOCALEDIR")) saved_ = old;
    if (value != nullptr) {
      ::setenv("MORVEX_LOCALEDIR", value, 1);
    } else {
      ::unsetenv("MORVEX_LOCALEDIR");
    }
  }
  ~LocaleDirVariable() {
    if (saved_) {
      ::setenv("MORVEX_LOCALEDIR", saved_->c_str(), 1);
    } else {
      ::unsetenv("MORVEX_LOCALEDIR");
    }
  }
  LocaleDirVariable(const LocaleDirVariable&) = delete;
  LocaleDirVariable& operator=(const LocaleDirVariable&) = delete;

 private:
  std::optional<std::string> saved_;
};

TEST(TextCatalogDir, TheVariableFirstThenTheBuildTreeBesideTheExecutable) {
  {
    LocaleDirVariable variable("/somewhere/locale");
    EXPECT_EQ(TextCatalogDir(nullptr), "/somewhere/locale");
  }
  {
    LocaleDirVariable variable("");  // empty counts as unset
    // The test binary lies in build/bin; the build's catalogs in build/locale.
    const std::filesystem::path expected = std::filesystem::path(MORVEX_BIN_DIR).parent_path() / "locale";
    ASSERT_TRUE(std::filesystem::is_directory(expected));
    EXPECT_TRUE(std::filesystem::equivalent(TextCatalogDir(nullptr), expected));
  }
}

TEST(Tr, WithoutATranslationTheEnglishTextItselfInSingularOrPlural) {
  EXPECT_STREQ(Tr("a text no catalog holds"), "a text no catalog holds");
  EXPECT_STREQ(TrN("%d file", "%d files", 1), "%d file");
  EXPECT_STREQ(TrN("%d file", "%d files", 2), "%d files");
  EXPECT_STREQ(TrNoop("marked"), "marked");
}

}  // namespace
}  // namespace morvex::core
