#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "Morvex.pb.h"
#include "core/WorkThread.h"
#include "index/FileUtils.h"
#include "index/FingerPrint.h"
#include "index/IgnoreRules.h"
#include "index/IndexContext.h"
#include "index/Tree.h"
#include "protocol/ZmqSocket.h"

namespace morvex::index {

// The full rescan ("refresher"): brings the records of a whole tree in line
// with the disk. It lists every entry under the root, merges the sorted
// listing with the tree's sorted records in one pass, and writes inserts
// for new paths, updates for changed ones and removal marks (with a fresh
// usn) for vanished ones. Trees come from a queue fed through
// "inproc://refresher.inproc" (MC_WIN_REFRESH); MC_WIN_REFRESH_CANCEL takes
// a tree off the queue or stops its running rescan.
//
// A file is changed when its type, presence, time, size or attributes
// differ; only new and changed files are fingerprinted, so a second rescan
// of an unchanged tree reads no file content and writes nothing. A root
// that cannot be read (an unmounted disk, say) stops the rescan without
// writing, and the records below a folder that cannot be listed are kept:
// marking them removed would delete those files on every peer.
//
// Design: one rescan at a time, trees in the order asked; a cancel reaches a
// running rescan between files. Nothing returns to the requester: the
// outcome is the written records and one change notice to peers when rows
// changed (see CSyncDirManager for who asks).
//
// Threads: everything runs on its own thread; IsCancel polls its sockets
// without blocking (it is asked between files and between reads).
class CRefreshThread final : public core::CWorkThread, public CCancleCacuSha1 {
 public:
  // Writes are applied in batches of this many operations, so that the
  // memory of a rescan does not grow with the size of the tree.
  static constexpr size_t kBatchOperations = 2000;

  explicit CRefreshThread(IndexContext context);
  ~CRefreshThread() override { Join(); }

  bool IsCancel(int32_t treeId) override;

  // One scanned entry; kept small, a tree can hold millions.
  struct Entry {
    std::string path;
    int64_t mtime;
    int64_t length;
    uint32_t winAttr;
    uint32_t unixAttr;
    bool directory;
  };
  // One rescan, on the calling thread (tests call it directly): true when
  // it ran to its end, false when cancelled.
  bool RefreshTree(const LocalTree& tree, const IgnoreRules& rules);

 private:
  uint32_t Run() override;
  bool WaitForWork();
  void Queue(const qo::MsgWinRefresh& refresh);
  // Handles one pending command; true when it cancels `treeId`.
  bool HandleCommand(int32_t treeId);
  bool Scan(const std::string& dir, int32_t treeId, const IgnoreRules& rules, std::vector<Entry>& listing,
            std::vector<std::string>& unreadable);
  void AddEntry(const std::string& path, const FileInfo& info, int32_t treeId, const IgnoreRules& rules,
                std::vector<Entry>& listing);
  // Folders that could not be listed keep their records: an unreadable
  // folder is no evidence that its files are gone.
  bool Reconcile(std::vector<Entry>& listing, const std::vector<std::string>& unreadable, const LocalTree& tree);

  IndexContext context_;
  // Sockets of the refresher thread (null outside Run).
  protocol::ZmqSocket* tasks_ = nullptr;
  protocol::ZmqSocket* exit_ = nullptr;
  bool running_ = true;
  std::deque<int32_t> queue_;  // each tree at most once
  int32_t current_ = 0;        // the tree being rescanned
};

}  // namespace morvex::index
