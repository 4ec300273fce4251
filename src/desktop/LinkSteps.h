// What the link wizard does, apart from its windows: each step takes the
// requests it sends as an interface, so the steps run without a network.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "desktop/LinkRequests.h"

namespace morvex::desktop {

// Waits of the link wizard's requests: listings and tree adds are quick,
// recording a relation may take a peer a while.
inline constexpr int kListWaitMs = 1000;
inline constexpr int kSyncAddWaitMs = 5000;
inline constexpr int kOwnWaitMs = 5000;  // the own service answers at once

// A sync folder of a peer, as its tree list names it.
struct RemoteFolder {
  std::string name;  // the last component of the root
  std::string root;
  std::string treeUuid;
  std::string syncUuid;
};

// The text after the last "/" of `path` (all of it without one).
std::string LastComponent(const std::string& path);

// The peer's sync folders, or the message (translated) saying why not.
struct RemoteFolders {
  std::vector<RemoteFolder> folders;
  std::string failure;  // empty when the listing came
};
RemoteFolders FetchRemoteFolders(ILinkRequests& requests, const LinkTarget& peer);

// A peer chosen in the device list, as the Device table has it now; nothing
// when it is gone or offline.
std::optional<LinkTarget> OnlinePeer(int32_t deviceId);

// What may be done with a local folder chosen for a peer's sync folder.
enum class LocalFolderVerdict {
  kNotAFolder,       // no folder of the file system
  kOtherSyncFolder,  // the root of a tree of another sync folder
  kUsable,
};
LocalFolderVerdict CheckLocalFolder(const std::string& path, const std::string& remoteSyncUuid);
// The read-only field's text for that verdict.
std::string LocalFolderNote(LocalFolderVerdict verdict, const std::string& path);

// Asks the peer and then the own service to record the relation between
// the peer's tree and the local one. 0, or the first error code; no answer
// counts as ZE_OPERATE_TIMEOUT.
int LinkBothSides(ILinkRequests& requests, const LinkTarget& peer, const RemoteFolder& remote,
                  const std::string& localTreeUuid, const std::string& localRoot);

// Finishes linking `localPath` to the chosen peer's sync folder: reuses the
// local tree of the same sync folder rooted there or has the own service
// create one, then links
// both sides. Empty when done, otherwise the message to show; either way the
// wizard ends (nothing done so far is undone).
std::string FinishLink(ILinkRequests& requests, int32_t deviceId, const RemoteFolder& remote,
                       const std::string& localPath);

// Finishes a new sync folder at `path`, made by the own service. `stay` is
// set when the wizard stays on its page (a path to correct); the message is
// empty when it was made.
std::string FinishNewSyncFolder(ILinkRequests& requests, const std::string& path, bool& stay);

}  // namespace morvex::desktop
