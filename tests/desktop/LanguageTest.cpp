// The desktop in a Chinese locale: the windows' own Chinese texts, with the
// numbers where the formats put them.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "desktop/StatusText.h"
#include "desktop/Strings.h"

namespace morvex::desktop {
namespace {

class ChineseLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* language = std::getenv("LANGUAGE")) savedLanguage_ = language;
    unsetenv("LANGUAGE");
    if (!std::setlocale(LC_MESSAGES, "zh_CN.UTF-8")) GTEST_SKIP() << "the zh_CN.UTF-8 locale is not generated";
  }
  void TearDown() override {
    std::setlocale(LC_MESSAGES, "C");
    if (!savedLanguage_.empty()) setenv("LANGUAGE", savedLanguage_.c_str(), 1);
  }

 private:
  std::string savedLanguage_;
};

TEST_F(ChineseLocale, EveryNumberedTextHasItsChinese) {
  for (const StringEntry& entry : kStringTable) {
    if (entry.id == 107) continue;  // the product's name is the same in every language
    EXPECT_STRNE(Text(entry.id), entry.text.one) << entry.id << " is not translated";
  }
  EXPECT_STREQ(Text(104), "立即同步");
  EXPECT_STREQ(Text(208), "当前没有执行任何任务");
}

TEST_F(ChineseLocale, FormatsCarryTheirNumbers) {
  EXPECT_EQ(SpeedText(1536), "1.5KB/秒");
  EXPECT_EQ(TimeText(90), "1分30秒");
  EXPECT_EQ(TimeText(93600), "1天2时");
  EXPECT_EQ(TimeText(259200), "一些时间,请耐心等待");
  EXPECT_EQ(Printf(core::Tr(Str(202)), 7), "取消（07）");
  EXPECT_EQ(Printf(core::Tr(Str(162)), "客厅"), "确认删除与\"客厅\"信任关系？");
  EXPECT_EQ(Printf(core::TrN(StrPair(205).one, StrPair(205).many, 3), 3), "3 个文件已更新");
  EXPECT_EQ(Printf(core::TrN(StrPair(211).one, StrPair(211).many, 2), 2, "1.5KB/秒", "1分30秒"),
            "正在同步 2 文件， 1.5KB/秒，剩余 1分30秒");
}

}  // namespace
}  // namespace morvex::desktop
