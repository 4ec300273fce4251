#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "Morvex.pb.h"
#include "ctl/CtlClient.h"
#include "ctl/ErrorSentences.h"
#include "ctl/TerminalText.h"

// What the commands of morvexctl share: the parsed command line, the
// output streams and the client, and the helpers for devices, paths and
// listings. The commands live in Commands.cpp (identity, devices, trust),
// FolderCommands.cpp (folders and links) and StatusCommands.cpp.
namespace morvex::ctl {

struct Invocation {
  std::string metadir;
  bool json = false;
  bool help = false;  // -h or --help: the usage, nothing run
  bool follow = false;  // --follow: 'events' goes on printing new ones
  int timeout = 300;
  std::vector<std::string> words;
};

struct Context {
  Invocation invocation;
  std::ostream& out;
  std::ostream& err;
  std::optional<CtlClient> client;
  // What went wrong, for the --json error document RunCommandLine prints.
  std::vector<std::string> failures;
  int failedCode = 0;  // the ErrorCode an answer carried, 0 when none

  // Every failure ends here: one line on standard error. Messages may
  // carry what a peer chose (its name): shown escaped.
  int Fail(int status, std::string_view message, int code = 0) {
    err << TerminalText(message) << "\n";
    failures.emplace_back(message);
    if (code != 0) failedCode = code;
    return status;
  }
  int Fail(const CtlAnswer& answer) { return Fail(answer.status, answer.message, answer.error); }
  // What the other side answered, after `prefix`; other failures as they are.
  int Fail(const CtlAnswer& answer, std::string_view prefix) {
    if (answer.error == 0) return Fail(answer);
    return Fail(answer.status, std::string(prefix) + ": " + answer.message, answer.error);
  }
  int Fail(std::string_view message) { return Fail(kExitServiceError, message); }
};

// The answer's body as `message`; an answer that does not parse is a failure.
CtlAnswer Parsed(CtlAnswer answer, google::protobuf::MessageLite& message);
// The device list of the local service; status and message on failure.
CtlAnswer ListDevices(Context& context, qo::MsgDeviceShowResponse& devices);
// A full UUID, a unique UUID prefix or an exact name.
std::optional<std::string> ResolveDevice(Context& context, const std::string& wanted, int& status);
// A path made absolute against the current folder, "." and ".." resolved
// by name and no trailing slash: the form the service keeps roots in. An
// empty path stays empty: it must not stand for the current folder.
std::string AbsolutePath(const std::string& path);

// One entry of a listing: its fields in order. Printed as a JSON object, or
// as one line of tab-separated values, each escaped for the terminal.
struct Field {
  const char* key;
  std::string text;
  bool number = false;
};
using Entry = std::vector<Field>;
// With --json a list of objects, or the one entry as an object when not
// `list`: either way exactly one document.
void Print(Context& context, const std::vector<Entry>& entries, bool list = true);
// A listing a user reads as a table: in text, first a header row of the
// keys of `columns` (an entry of the same shape) in capitals.
void PrintListing(Context& context, const Entry& columns, const std::vector<Entry>& entries);

// Folder and link commands.
int ShowFolders(Context& context);
int Folder(Context& context);
int ShowRemoteFolders(Context& context);
int ShowRemoteRoots(Context& context);
int ShowRemoteListing(Context& context);
int AddRemoteFolder(Context& context);
int Link(Context& context);
int Unlink(Context& context);
int ShowSyncs(Context& context);
int SyncNow(Context& context);
int Rescan(Context& context);
// What the service is doing.
int ShowStatus(Context& context);
int Wait(Context& context);
// The event history; with --follow it then polls once a second until
// interrupted. The second form waits with `waitForMore` instead, which
// returns false to stop (the tests).
int ShowEvents(Context& context);
int ShowEvents(Context& context, const std::function<bool()>& waitForMore);
// This device's settings: 'config get [KEY]', 'config set KEY VALUE'.
// ConfigMistake names what is wrong with the words before anything is read
// (empty when nothing is); Config runs them.
std::string ConfigMistake(const std::vector<std::string>& words);
int Config(Context& context);

}  // namespace morvex::ctl
