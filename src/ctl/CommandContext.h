#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "Morvex.pb.h"
#include "ctl/CtlClient.h"
#include "ctl/TerminalText.h"
#include "protocol/ErrorText.h"

// What the commands of morvexctl share: the parsed command line, the
// output streams and the client, and the helpers for devices, paths and
// listings. The commands live in Commands.cpp (identity, devices, trust),
// FolderCommands.cpp (folders and links) and StatusCommands.cpp.
namespace morvex::ctl {

void PrintUsage(std::ostream& err);

struct Invocation {
  std::string metadir;
  bool json = false;
  int timeout = 300;
  std::vector<std::string> words;
};

struct Context {
  Invocation invocation;
  std::ostream& out;
  std::ostream& err;
  std::optional<CtlClient> client;

  // Messages may carry what a peer chose (its name): shown escaped.
  int Fail(const CtlAnswer& answer) {
    err << TerminalText(answer.message) << "\n";
    return answer.status;
  }
  // What the other side answered, after `prefix`; other failures as they are.
  int Fail(const CtlAnswer& answer, std::string_view prefix) {
    if (answer.error != 0) err << prefix << ": ";
    return Fail(answer);
  }
  int Fail(std::string_view message) {
    err << TerminalText(message) << "\n";
    return kExitServiceError;
  }
  int FailCode(int code) { return Fail(qo::ErrorCode_Name(code) + ": " + protocol::ErrorText(code)); }
  int Usage() {
    PrintUsage(err);
    return kExitUsage;
  }
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

}  // namespace morvex::ctl
