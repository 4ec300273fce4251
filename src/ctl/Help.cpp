#include "ctl/Help.h"

#include <iomanip>
#include <sstream>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "core/Text.h"

namespace morvex::ctl {
namespace {

struct CommandHelp {
  const char* name;      // the first word
  const char* synopsis;  // the words after `morvexctl`
  const char* summary;   // one line for the full usage (translated where shown)
  const char* details;   // for `help COMMAND` (translated where shown)
};

constexpr CommandHelp kCommands[] = {
    {"id", "id", core::TrNoop("this device"), core::TrNoop("Prints this device's UUID, name and ports.")},
    {"devices", "devices", core::TrNoop("the devices this device knows"),
     core::TrNoop(
         "Lists every device seen on the network with the same sync password, and this one: UUID, trust (PAIR), "
         "online or offline, name and address. The PAIR column is explained under 'columns' in 'morvexctl --help'.")},
    {"trust", "trust request DEVICE [--timeout S]", core::TrNoop("ask DEVICE for trust (default 300 s)"),
     core::TrNoop("Sends DEVICE a trust request that stays open S seconds. Its owner then runs "
                  "'morvexctl trust accept THIS-DEVICE' there; until then 'devices' shows DEVICE as WAIT here and this "
                  "device as ACK there. Exit 5 when DEVICE does not answer.")},
    {"trust", "trust accept DEVICE", core::TrNoop("accept DEVICE's pending request"),
     core::TrNoop(
         "Accepts the trust request DEVICE sent (shown as ACK in 'devices'): both devices then trust each other "
         "(PAIR).")},
    {"trust", "trust deny DEVICE", core::TrNoop("refuse DEVICE's request, or cancel ours"),
     core::TrNoop("Refuses DEVICE's trust request, or withdraws the one this device sent to DEVICE.")},
    {"trust", "trust revoke DEVICE", core::TrNoop("end trust with DEVICE on both sides"),
     core::TrNoop("Ends trust with DEVICE here and tells DEVICE to end it too. Links with DEVICE stop syncing.")},
    {"folders", "folders", core::TrNoop("this device's sync folders"),
     core::TrNoop(
         "Lists this device's sync folders: TREE_UUID (this copy), SYNC_UUID (shared by all linked copies), ROOT.")},
    {"folder", "folder add PATH", core::TrNoop("make the folder PATH a new sync folder"),
     core::TrNoop("Makes the existing folder PATH a sync folder, ready to be linked from other devices. It may not lie "
                  "inside another sync folder nor contain one.")},
    {"folder", "folder remove PATH", core::TrNoop("stop syncing the folder PATH, with all its links"),
     core::TrNoop("Ends every link of the sync folder PATH, then stops syncing it. Its files stay.")},
    {"remote-folders", "remote-folders DEVICE", core::TrNoop("DEVICE's sync folders"),
     core::TrNoop("Lists DEVICE's sync folders, as 'folders' does there. DEVICE must trust this device.")},
    {"remote-roots", "remote-roots DEVICE", core::TrNoop("where DEVICE's folders can be browsed from"),
     core::TrNoop("Lists the places DEVICE lets trusted devices browse: TYPE, PATH, LABEL.")},
    {"remote-ls", "remote-ls DEVICE PATH", core::TrNoop("the contents of DEVICE's folder PATH"),
     core::TrNoop("Lists DEVICE's folder PATH (absolute, below one of 'remote-roots'): NAME, TYPE, LENGTH, MTIME.")},
    {"remote-folder", "remote-folder add DEVICE PATH", core::TrNoop("make DEVICE's folder PATH a new sync folder"),
     core::TrNoop("Makes DEVICE's existing folder PATH a sync folder there, as 'folder add' would on DEVICE.")},
    {"link", "link DEVICE REMOTE LOCAL_PATH",
     core::TrNoop("sync DEVICE's sync folder REMOTE (tree UUID or\n"
                  "                                       root) with LOCAL_PATH here"),
     core::TrNoop(
         "Links LOCAL_PATH here with DEVICE's sync folder REMOTE (its tree UUID, a unique prefix of it, or its "
         "root) and starts the first pass. LOCAL_PATH becomes a sync folder if it is not one. Linking twice "
         "changes nothing.")},
    {"unlink", "unlink LOCAL_PATH DEVICE", core::TrNoop("stop syncing LOCAL_PATH with DEVICE"),
     core::TrNoop("Ends the link between LOCAL_PATH and DEVICE on both sides. The files stay on both.")},
    {"syncs", "syncs", core::TrNoop("the links of this device's sync folders"),
     core::TrNoop("Lists the links: ID, LOCAL_TREE_UUID, LOCAL_ROOT, DEVICE_UUID, DEVICE_NAME, REMOTE_TREE_UUID, "
                  "REMOTE_ROOT.")},
    {"sync-now", "sync-now [LOCAL_PATH]", core::TrNoop("a sync pass now, for every link or LOCAL_PATH's"),
     core::TrNoop("Starts a sync pass at once for every link, or for the links of LOCAL_PATH.")},
    {"rescan", "rescan", core::TrNoop("look for changes in every sync folder now"),
     core::TrNoop("Looks for changes in every sync folder now instead of at the next interval.")},
    {"status", "status", core::TrNoop("what the service is doing, per link and folder"),
     core::TrNoop("Shows, per link (folder and peer), whether a pass runs or waits, what is pending and how the last "
                  "pass ended; an incomplete pass with its reason and the items it could not write.")},
    {"wait", "wait [LOCAL_PATH] [--timeout S]",
     core::TrNoop("until nothing is pending (default 300 s; exit 4\n"
                  "                                       when still busy)"),
     core::TrNoop(
         "Returns once nothing is pending (for LOCAL_PATH only, if given), with a progress line on a terminal. "
         "Exit 4 when work is still pending after S seconds; 5 when a peer did not answer, 1 when it refused, 6 "
         "when items could not be written (status lists them); 0 only when every link's last pass applied "
         "everything.")},
    {"events", "events [--follow]", core::TrNoop("conflicts, skipped names, trust requests"),
     core::TrNoop(
         "Lists the service's last 1,000 events: conflict copies made, names skipped, deletions applied, trust "
         "requested of this device, a trusted device's key refused, passes that ended with failures. With "
         "--follow, goes on printing new ones (checked every second) until interrupted; with --json too, one "
         "object per line.")},
    {"config", "config get [KEY]", core::TrNoop("this device's settings, or the one KEY"),
     core::TrNoop("Prints the settings, or the one KEY: name (the device name), password (only whether one is "
                  "set), port (the sync service port), broadcast-port (discovery), publish-port (status "
                  "notifications), sync-interval (seconds between periodic passes, 0 for none).")},
    {"config", "config set KEY VALUE", core::TrNoop("change a setting, applied at once"),
     core::TrNoop("Changes the setting KEY through the service, which applies it at once: a port is bound "
                  "again, a new password is announced (only devices with the same password see each other), "
                  "a new name is announced. Ports are 1 to 65535 and differ from each other. The password set "
                  "here stays: MORVEX_TOKEN and --token-file only give the first one.")},
    {"help", "help COMMAND", core::TrNoop("how to use COMMAND"),
     core::TrNoop("Prints every form of COMMAND and what it does.")},
};

constexpr const char* kHead = core::TrNoop(
    "usage: morvexctl [-m METADIR] [--json] COMMAND [ARGUMENTS]\n"
    "options:\n"
    "  -m, --metadir METADIR  the profile folder of the service to talk to\n"
    "                         (default $XDG_CONFIG_HOME or ~/.config)\n"
    "  --json                 one JSON document on standard output instead of text\n"
    "  --timeout S            seconds, for 'trust request' and 'wait'\n"
    "  --follow               'events' goes on printing new events\n"
    "  -h, --help             this text on standard output\n"
    "commands:\n");

constexpr const char* kTail = core::TrNoop(
    "DEVICE is a full UUID, a unique UUID prefix or an exact device name.\n"
    "columns:\n"
    "  'folders', 'syncs' and 'devices' print a header row, then one row per\n"
    "  entry. The PAIR column of 'devices' is the state of trust with that device:\n"
    "    PAIR  trusted: the two devices trust each other\n"
    "    WAIT  this device asked it for trust and waits for its owner to accept\n"
    "    ACK   it asked this device for trust: 'trust accept DEVICE' accepts,\n"
    "          'trust deny DEVICE' refuses\n"
    "    NONE  no trust, nothing asked\n"
    "exit statuses:\n"
    "  0  done\n"
    "  1  refused: the service or the peer answered with an error (the reason on\n"
    "     standard error)\n"
    "  2  usage: the command line is wrong\n"
    "  3  the local Morvex service did not answer\n"
    "  4  timeout: work still pending when 'wait' gave up\n"
    "  5  the peer did not answer: it is offline or unreachable\n"
    "  6  a pass ended with items it could not write ('status' lists them)\n"
    "  With --json a failure is also printed on standard output as\n"
    "  {\"error\": KIND, \"status\": N, \"message\": TEXT}, KIND one of refused, usage,\n"
    "  service_down, timeout, peer_unreachable, items_failed, with \"code\" (the\n"
    "  error number the other side answered) when there was one.\n");

// East Asian wide characters (CJK, Hangul, full-width forms): two columns,
// and a line may break before or after each.
bool Wide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// The code point at text[i] and its length in bytes; a byte that starts no
// valid sequence counts as one narrow character.
std::pair<char32_t, size_t> CodePoint(std::string_view text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
  if (length == 1 || i + length > text.size()) return {lead, 1};
  char32_t c = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  return {c, length};
}

}  // namespace

std::string WrapText(std::string_view text, std::string_view indent, size_t width) {
  // Pieces: a run of narrow characters up to a space, or one wide character.
  struct Piece {
    std::string_view bytes;
    size_t columns;
    bool spaceBefore;
  };
  std::vector<Piece> pieces;
  bool space = false;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      space = true;
      ++i;
      continue;
    }
    auto [c, length] = CodePoint(text, i);
    if (Wide(c)) {
      pieces.push_back({text.substr(i, length), 2, space});
      i += length;
    } else {
      const size_t start = i;
      size_t columns = 0;
      while (i < text.size() && text[i] != ' ') {
        std::tie(c, length) = CodePoint(text, i);
        if (Wide(c)) break;
        i += length;
        ++columns;
      }
      pieces.push_back({text.substr(start, i - start), columns, space});
    }
    space = false;
  }
  std::string lines;
  std::string line(indent);
  size_t used = indent.size();
  for (const Piece& piece : pieces) {
    const bool empty = used == indent.size();
    const size_t gap = empty || !piece.spaceBefore ? 0 : 1;
    if (!empty && used + gap + piece.columns > width) {
      lines += line + "\n";
      line = indent;
      used = indent.size();
    } else if (gap != 0) {
      line += ' ';
      ++used;
    }
    line += piece.bytes;
    used += piece.columns;
  }
  return lines + line + "\n";
}

std::string FullUsage() {
  std::ostringstream text;
  text << core::Tr(kHead);
  for (const CommandHelp& command : kCommands) {
    text << "  " << std::left << std::setw(37) << command.synopsis << core::Tr(command.summary) << "\n";
  }
  text << core::Tr(kTail);
  return text.str();
}

std::optional<std::string> CommandUsage(const std::string& command) {
  std::ostringstream text;
  for (const CommandHelp& entry : kCommands) {
    if (command != entry.name) continue;
    text << (text.tellp() == 0 ? "usage: " : "       ") << "morvexctl " << entry.synopsis << "\n";
  }
  if (text.tellp() == 0) return std::nullopt;
  for (const CommandHelp& entry : kCommands) {
    if (command != entry.name) continue;
    text << "\n  " << entry.synopsis << "\n" << WrapText(core::Tr(entry.details), "    ");
  }
  return text.str();
}

}  // namespace morvex::ctl
