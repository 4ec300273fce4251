#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/StatusBoard.h"
#include "peer/PeerContext.h"
#include "peer/Relations.h"
#include "protocol/PeerChannel.h"
#include "store/Operations.h"
#include "sync/FileFetcher.h"
#include "sync/MorvexFile.h"
#include "sync/SyncMonitor.h"

namespace morvex::sync {

// How a pass cuts its work into batches; each batch is fetched and then
// committed as one transaction, so progress is kept piecewise and a failing
// peer stops the pass early.
struct PassLimits {
  int32_t pageSize = 5000;                 // records per listing request
  int32_t batchFiles = 500;                // files per batch
  int64_t batchBytes = 32 * 1024 * 1024;   // remote bytes per batch (fetched lists)
  int32_t listWaitMs = 1500;               // for one listing page
  FetchLimits fetch;
};

// The work of one pass, sorted into what is done with each remote record.
// Its files count the steps refused for leaving the tree into `escapes`,
// which is declared first so that it outlives them (their temporary files
// go with them); for that the lists stay where they were made.
struct PassLists {
  PassLists() = default;
  PassLists(const PassLists&) = delete;
  PassLists& operator=(const PassLists&) = delete;

  int32_t escapes = 0;
  std::vector<std::unique_ptr<CMorvexFile>> conflicts;
  std::vector<std::unique_ptr<CMorvexFile>> directories;
  std::vector<std::unique_ptr<CMorvexFile>> deletions;
  std::vector<std::unique_ptr<CMorvexFile>> newFiles;
  std::vector<std::unique_ptr<CMorvexFile>> updates;
};

// One relation between a local tree and a tree on a peer, and the pass that
// pulls the peer's newer state into the local tree. A pass never pushes:
// the peer pulls from this device in its own passes.
//
// A pass lists every record of the peer tree, keeps those whose clock is not
// equal to the local record's, sorts them (PassLists), and applies them in
// a fixed order: conflicts, directories, deletions (deepest first), new
// files, updates. Data lands in "<path>.~morvex" files, is verified against
// its SHA-1 and is renamed into place only by the batch that records it.
//
// Threads: one pass on one sync worker thread at a time per relation; passes
// of other relations may run at once and share only the database and the
// file system.
class CSyncDir {
 public:
  explicit CSyncDir(int32_t syncId);
  bool Valid() const { return valid_; }
  const peer::Relation& Relation() const { return relation_; }
  // The local tree's UUID sorts first: on a conflict its file gives way.
  bool IsLower() const { return relation_.treeUuid < relation_.peerTreeUuid; }

  // False when the listing failed (nothing was applied); true otherwise.
  bool RunPass(peer::PeerContext& peer, const PassLimits& limits = {});
  // After a pass: every change it found was fetched and handed to a batch.
  bool Complete() const { return goOn_ && failedFiles_ == 0; }
  // After an incomplete pass: why (the peer, or the items that failed).
  core::PassReport Report() const;

  // The conversation a pass holds with the relation's peer (RunPass opens
  // one and lends it to the listing and to every fetch batch).
  protocol::PeerChannel OpenChannel(peer::PeerContext& peer) const;
  // Listing and classification alone (the first half of a pass).
  bool ListChanges(protocol::PeerChannel& channel, const PassLimits& limits, PassLists& lists);
  // Fetching and applying what the listing found (the second half).
  void ApplyChanges(peer::PeerContext& peer, protocol::PeerChannel& channel, const PassLimits& limits,
                    PassLists& lists);

 private:
  int64_t ApplyLists(protocol::PeerChannel& channel, const PassLimits& limits, PassLists& lists);
  bool FetchBatch(protocol::PeerChannel& channel, const PassLimits& limits, CSyncMonitor& monitor,
                  const std::vector<CMorvexFile*>& batch);

  peer::Relation relation_;
  bool valid_ = false;
  bool goOn_ = true;
  int32_t failedFiles_ = 0;
  core::PassReport report_;  // its problem is set only by a failed listing or fetch
};

// Deletes the temporary files a killed service left in the tree, once per
// tree and process, before the first pass of that tree fetches anything.
void RemoveLeftoverTempFiles(const std::string& treeUuid, const std::string& root);

}  // namespace morvex::sync
