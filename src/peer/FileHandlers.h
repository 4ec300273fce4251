#pragma once

#include "peer/RequestHandlers.h"

// File data and folder browsing for peers: one part of a file of a tree
// (MC_GET_REQUEST), one folder of this device (MC_LIST_REQUEST), and the
// places to start browsing from (MC_LIST_ROOT_REQUEST).
namespace morvex::peer {

// Answers MC_GET_RESPONSE with the part, or MC_GET_ERROR (ZE_BAD_UUID,
// ZE_BAD_PART, ZE_BAD_TREE, ZE_BAD_PATH, ZE_VCLOCK_MISMATCH); ZE_BAD_FORMAT
// when the body does not parse, a clock beyond the message bound included.
// Never writes to the database.
int HandleGet(Request& request);
// Answers MC_LIST_RESPONSE without the private folders (PrivateFolders);
// ZE_BAD_FORMAT, ZE_PERMISSION_DENY for a private folder, or ZE_BAD_PATH
// when the root is not an absolute path or cannot be listed.
int HandleList(Request& request);
// Answers MC_LIST_ROOT_RESPONSE: mounted file systems (RT_DRIVE), the home
// folder and the user's well-known folders, none in a private folder;
// ZE_BAD_FORMAT for a request with a body.
int HandleListRoot(Request& request);

}  // namespace morvex::peer
