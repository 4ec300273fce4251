#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "aux/Deployment.h"

namespace morvex::aux {

// The outcomes of RunUpdate.
enum UpdateResult : int {
  kUpdateInstalled = 0,     // the new program file is in place
  kUpdateNoConnection = 1,  // no HTTP client could be made
  kUpdateCannotOpen = 2,    // update.info or the package cannot be fetched, or is not trustworthy
  kUpdateEmptyInfo = 3,     // update.info is empty
  kUpdateIncomplete = 5,    // the package did not arrive completely
  kUpdateNoVersion = 6,     // the running program's version is unknown
  kUpdateNotNewer = 7,      // the offered version is not newer, or does not parse
  kUpdateNotReplaced = 8,   // the user declined, or the program file could not be replaced
  kUpdateNotWritable = 9,   // the program file or its folder may not be changed: nothing was tried
  kUpdateNoSource = 10,     // no update host is configured
};

// Four decimal numbers separated by dots ("1.2.10.0"); false otherwise.
bool ParseVersion(std::string_view text, std::array<long, 4>& numbers);
// Whether `offered` is newer than `running`: the first number that differs
// decides. A version that does not parse is never newer.
bool IsNewerVersion(std::string_view offered, std::string_view running);

// update.info: "version:<v>\npackage:<name>" and, for this client, a
// "sha256:<hex>" line with the package's checksum. Each value ends at the
// first white space; a missing line leaves its field empty. The package is
// a name relative to the base URL, or an http:// or https:// URL of its own.
struct UpdateInfo {
  std::string version;
  std::string package;
  std::string sha256;  // lower-case hex
};
UpdateInfo ParseUpdateInfo(std::string_view text);

// Asked before anything is downloaded: (running version, offered version)
// -> whether to update. The desktop asks with a box (text::kUpdateQuestion).
using ConfirmUpdate = std::function<bool(const std::string& running, const std::string& offered)>;

struct UpdateOptions {
  std::string programPath;     // default: the running program (/proc/self/exe)
  std::string runningVersion;  // default: ProgramVersion()
  ConfirmUpdate confirm;       // empty: declined
  std::string caFile;          // tests: the authority of a self-made certificate
};

// Fetches `baseUrl` + "update.info" (only over https:// with the
// certificate checked), and when it offers a newer version with a checksum,
// downloads the package (base URL + package name) into a temporary file
// beside the program, checks its length and checksum, keeps the program as
// "OldExecutable.bak" beside it and renames the new file over it.
// A failure before the rename leaves the program as it was.
int RunUpdate(const std::string& baseUrl, const UpdateOptions& options);

// What a check tells its caller: the result code, the text to show (a
// TrNoop constant of UpdateTexts.h, translated by the caller; nullptr:
// show nothing) and whether to restart the service now.
struct UpdateCheck {
  int result = kUpdateNoSource;
  const char* message = nullptr;
  bool restart = false;
};
// `userAsked` is false for the silent check at start-up (failures show
// nothing) and true for the tray's "Check for updates".
UpdateCheck CheckForUpdate(bool userAsked, const Deployment& deployment, const UpdateOptions& options);

}  // namespace morvex::aux
