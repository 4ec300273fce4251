#include "ctl/Json.h"

#include <gtest/gtest.h>

namespace morvex::ctl {
namespace {

// `--json` output is read by scripts: every name and path, whatever bytes a
// peer put in it, must stay one valid JSON string.
TEST(JsonString, QuotesAndEscapesWhatJsonRequires) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\""},
      {"laptop", "\"laptop\""},
      {"Bürorechner 笔记本", "\"Bürorechner 笔记本\""},  // UTF-8 passes through
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\dir", "\"C:\\\\dir\""},
      {"a\nb\rc\td", "\"a\\nb\\rc\\td\""},
      {"\x1b[2K", "\"\\u001b[2K\""},
      {std::string("nul\0byte", 8), "\"nul\\u0000byte\""},
      {"del\x7f", "\"del\x7f\""},  // not a control character in JSON
  };
  for (const auto& [raw, quoted] : cases) EXPECT_EQ(JsonString(raw), quoted) << quoted;
}

TEST(JsonBool, SpellsTheLiterals) {
  EXPECT_STREQ(JsonBool(true), "true");
  EXPECT_STREQ(JsonBool(false), "false");
}

}  // namespace
}  // namespace morvex::ctl
