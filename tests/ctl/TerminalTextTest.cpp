#include "ctl/TerminalText.h"

#include <gtest/gtest.h>

namespace morvex::ctl {
namespace {

// What a peer may put in a name must reach the terminal as visible text:
// nothing that moves the cursor, clears a line or starts a sequence.
TEST(TerminalText, ControlCharactersAreShownEscaped) {
  const std::pair<std::string, std::string> cases[] = {
      {"laptop", "laptop"},
      {"", ""},
      {"Bürorechner 笔记本", "Bürorechner 笔记本"},  // UTF-8 passes through
      {"a\tb", "a\\tb"},
      {"line\nnext", "line\\nnext"},
      {"fake\r0d7c PAIR online", "fake\\r0d7c PAIR online"},
      {"\x1b[2K\x1b[1A", "\\x1b[2K\\x1b[1A"},
      {std::string("nul\0byte", 8), "nul\\x00byte"},
      {"del\x7f", "del\\x7f"},
      {"back\\slash", "back\\\\slash"},                      // an escape in the name is not mistaken for ours
      {"csi\xc2\x9b" "2J", "csi\\u009b2J"},                   // C1 control as UTF-8
      {"lone\x9b" "2J", "lone\\x9b2J"},                       // C1 byte outside UTF-8
      {"cut\xe2\x82", "cut\\xe2\\x82"},                       // truncated sequence
      {"over\xc0\xaf", "over\\xc0\\xaf"},                     // overlong form
      {"txt.exe\xe2\x80\xae" "fdp", "txt.exe\\u202efdp"},     // right-to-left override
  };
  for (const auto& [raw, shown] : cases) EXPECT_EQ(TerminalText(raw), shown) << shown;
}

}  // namespace
}  // namespace morvex::ctl
