#include "store/SyncStateClear.h"

#include "store/Uri.h"

namespace morvex::store {

void AppendClearSyncState(COperationList& batch) {
  for (const CUri* uri : {&uris::Sync(), &uris::File(), &uris::Tree(), &uris::VCUuid()}) {
    batch.NewDelete(*uri, CSelection());
  }
}

}  // namespace morvex::store
