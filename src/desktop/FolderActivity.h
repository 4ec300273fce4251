// What the sync folders page shows of the workers' progress: counters per
// tree (indexing) and per relation (files and bytes pending), fed by the
// broadcasts the main window passes on, and the status texts made of them.
#pragma once

#include <any>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/StatusBoard.h"

namespace morvex::desktop {

struct RelationActivity {
  int32_t files = 0;              // files still to transfer
  int64_t bytesLeft = 0;          // bytes still to transfer
  int64_t bytesSinceRefresh = 0;  // bytes received since the row was last rewritten
  // What the row last showed, so that a refresh rewrites only rows whose
  // work changed (the speed is measured over the interval between them).
  bool shown = false;
  int32_t shownFiles = 0;
  int64_t shownBytes = 0;
  std::string shownText;
};

// Confined to the page's thread.
class FolderActivity {
 public:
  // The trees and relations now listed: those already known keep their
  // counters, new ones start at zero, the others are forgotten.
  void Track(const std::vector<int32_t>& treeIds, const std::vector<int32_t>& relationIds);

  // One broadcast: indexing per tree, transfers per relation. False for a
  // code this does not follow; an event for a key not listed changes
  // nothing (a tree or relation removed while its work ended).
  bool OnBroadcast(int code, const std::any& parameter);

  int32_t Indexing(int32_t treeId) const;
  // Null for a relation not listed.
  RelationActivity* Relation(int32_t relationId);

 private:
  std::map<int32_t, int32_t> indexing_;  // tree id -> items outstanding
  std::map<int32_t, RelationActivity> relations_;
};

// The status of a relation with files pending: their number, with the
// speed over the last interval and the time left when bytes came; nothing
// when no file is pending.
std::optional<std::string> PendingText(int32_t files, int64_t bytesLeft, int64_t bytesSinceRefresh);

// Why the last pass of a relation failed, in the words the command-line
// client's status uses; nothing when it did not fail (or none ran yet).
std::optional<std::string> LastPassFailure(const core::RelationStatus& status, const std::string& peerName);

// The indexing status of a tree; empty when nothing is outstanding.
std::string IndexingText(int32_t items);

}  // namespace morvex::desktop
