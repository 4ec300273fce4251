#pragma once

#include "store/Operations.h"

namespace morvex::store {

// Appends to `batch` the deletion of every relation, tree, file record and
// clock numbering (the Sync, File, Tree and VCUuid tables): what a device
// forgets when its database is cleared or its identity made anew. The
// devices are left to the caller, which keeps its own row or not.
void AppendClearSyncState(COperationList& batch);

}  // namespace morvex::store
