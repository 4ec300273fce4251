#pragma once

#include "store/Operations.h"
#include "sync/Conditions.h"

namespace morvex::sync {

// One batch of a pass: its database changes with their guarding steps, and
// the folders its moves changed (CFolderFlushes). The pass appends the
// flush as the batch's last step, so the renames of a batch become durable
// together before it commits. The batch owns the folders its moves note, so
// no batch sees another's, whatever thread applies it.
//
// Threads: the pass's worker thread.
class CSyncBatch final : public store::COperationList {
 public:
  CFolderFlushes& Flushes() { return flushes_; }

 private:
  CFolderFlushes flushes_;
};

}  // namespace morvex::sync
