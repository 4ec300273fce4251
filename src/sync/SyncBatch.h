#pragma once

#include <memory>
#include <string>
#include <vector>

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

  // `condition` (the step that makes a conflict copy at `path`), noting
  // the path in ConflictCopies() when the step succeeds, so that the pass
  // can tell the interfaces about copies that exist and no others.
  std::unique_ptr<store::COperationCondition> NotingConflictCopy(std::unique_ptr<store::COperationCondition> condition,
                                                                 std::string path);
  // The full paths of the conflict copies this batch's steps made.
  const std::vector<std::string>& ConflictCopies() const { return conflictCopies_; }

 private:
  CFolderFlushes flushes_;
  std::vector<std::string> conflictCopies_;
};

}  // namespace morvex::sync
