#include "ctl/TerminalText.h"

namespace morvex::ctl {

std::string TerminalText(std::string_view text) { return std::string(text); }

}  // namespace morvex::ctl
