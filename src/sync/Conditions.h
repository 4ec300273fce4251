#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "store/Operations.h"
#include "sync/TreeFiles.h"

namespace morvex::sync {

// The file-system steps that guard the database changes of a sync batch.
// Each runs inside the batch just before its change and lets the change
// happen only when the step succeeded. Every step first checks that the
// entry it touches still has the modification time the record knows
// (kNoCheck skips that; a directory's time is not followed, so a directory
// is never "changed"): a file the user changed since it was indexed is
// never overwritten, moved away or deleted; the record keeps its old clock
// and the next pass meets the difference again.
//
// Every step reaches its paths beneath the tree's root without following a
// link (CTreeFiles): a folder swapped for a link after the listing was read
// fails the step instead of sending the write elsewhere.
inline constexpr int64_t kNoCheck = -1;

// The folders whose entries the moves of one batch changed: each move that
// succeeds notes its destination's folder, and the batch's last step
// (CConditionFlushFolders) flushes each of them once. Owned by the batch
// (CSyncBatch), which outlives its steps.
//
// Threads: the batch's; one pass's worker thread.
class CFolderFlushes {
 public:
  void Note(const CTreeFiles& tree, const std::string& folder);
  // Flushes every folder noted since the last call, then forgets them.
  void FlushAll();

 private:
  // (tree root, folder) -> the tree's steps that reach it.
  std::map<std::pair<std::string, std::string>, CTreeFiles> folders_;
};

// Moves `source` to `destination`, replacing it only with `replace`; with
// `sourceIdentity`, only while the source name still refers to that file (a
// temporary file another writer replaced is never moved into place). The
// destination's folder is noted in the batch's `flushes`, which its
// CConditionFlushFolders makes durable together before the batch commits.
class CConditionMove final : public store::COperationCondition {
 public:
  CConditionMove(CFolderFlushes& flushes, CTreeFiles tree, std::string source, std::string destination,
                 int64_t expectedSourceMtime, int64_t expectedDestinationMtime, bool replace,
                 std::optional<FileIdentity> sourceIdentity = std::nullopt)
      : flushes_(flushes),
        tree_(std::move(tree)),
        source_(std::move(source)),
        destination_(std::move(destination)),
        sourceMtime_(expectedSourceMtime),
        destinationMtime_(expectedDestinationMtime),
        replace_(replace),
        sourceIdentity_(sourceIdentity) {}
  bool Run() override;

 private:
  CFolderFlushes& flushes_;
  CTreeFiles tree_;
  std::string source_;
  std::string destination_;
  int64_t sourceMtime_;
  int64_t destinationMtime_;
  bool replace_;
  std::optional<FileIdentity> sourceIdentity_;
};

// The two moves a sync batch makes, named by purpose so that no call site
// spells out the check and replace flags.
//
// Moves a local entry aside to `destination` (a conflict name): only while
// the entry keeps `expectedSourceMtime`, never over anything.
inline std::unique_ptr<CConditionMove> MoveAside(CFolderFlushes& flushes, CTreeFiles tree, std::string source,
                                                 std::string destination, int64_t expectedSourceMtime) {
  return std::make_unique<CConditionMove>(flushes, std::move(tree), std::move(source), std::move(destination),
                                          expectedSourceMtime, kNoCheck, false);
}

// Moves a finished temporary file (still `identity`) into place at
// `destination`: only while what is there keeps `expectedDestinationMtime`,
// over it only with `replace`.
inline std::unique_ptr<CConditionMove> MoveIntoPlace(CFolderFlushes& flushes, CTreeFiles tree, std::string temp,
                                                     std::string destination, int64_t expectedDestinationMtime,
                                                     bool replace, std::optional<FileIdentity> identity) {
  return std::make_unique<CConditionMove>(flushes, std::move(tree), std::move(temp), std::move(destination), kNoCheck,
                                          expectedDestinationMtime, replace, identity);
}

// Makes a directory, then gives it the peer's time and permissions. With
// `replaceFile` a file in the way is deleted first, unless it changed;
// without, the step fails on it.
class CConditionMkdir final : public store::COperationCondition {
 public:
  CConditionMkdir(CTreeFiles tree, std::string path, int64_t expectedMtime, int64_t newMtime, int32_t winAttr,
                  int32_t unixAttr, bool replaceFile = true)
      : tree_(std::move(tree)),
        path_(std::move(path)),
        expectedMtime_(expectedMtime),
        newMtime_(newMtime),
        winAttr_(winAttr),
        unixAttr_(unixAttr),
        replaceFile_(replaceFile) {}
  bool Run() override;

 private:
  CTreeFiles tree_;
  std::string path_;
  int64_t expectedMtime_;
  int64_t newMtime_;  // kNoCheck: keep
  int32_t winAttr_;   // 0 with unixAttr 0: keep
  int32_t unixAttr_;
  bool replaceFile_;
};

// Removes an empty directory; one that still holds anything stays.
class CConditionRmdir final : public store::COperationCondition {
 public:
  CConditionRmdir(CTreeFiles tree, std::string path) : tree_(std::move(tree)), path_(std::move(path)) {}
  bool Run() override;

 private:
  CTreeFiles tree_;
  std::string path_;
};

class CConditionDelFile final : public store::COperationCondition {
 public:
  CConditionDelFile(CTreeFiles tree, std::string path, int64_t expectedMtime)
      : tree_(std::move(tree)), path_(std::move(path)), expectedMtime_(expectedMtime) {}
  bool Run() override;

 private:
  CTreeFiles tree_;
  std::string path_;
  int64_t expectedMtime_;
};

// Gives an entry the peer's permissions and time.
class CConditionSetAttr final : public store::COperationCondition {
 public:
  CConditionSetAttr(CTreeFiles tree, std::string path, int64_t expectedMtime, int64_t newMtime, int32_t winAttr,
                    int32_t unixAttr)
      : tree_(std::move(tree)),
        path_(std::move(path)),
        expectedMtime_(expectedMtime),
        newMtime_(newMtime),
        winAttr_(winAttr),
        unixAttr_(unixAttr) {}
  bool Run() override;

 private:
  CTreeFiles tree_;
  std::string path_;
  int64_t expectedMtime_;
  int64_t newMtime_;
  int32_t winAttr_;
  int32_t unixAttr_;
};

// Flushes the folders that the moves of its batch noted: one flush per
// folder and batch instead of one per file. Placed last in a batch, it runs
// before the batch commits, so no record names a file whose rename a power
// cut could still undo. Always lets its (empty) change run.
class CConditionFlushFolders final : public store::COperationCondition {
 public:
  explicit CConditionFlushFolders(CFolderFlushes& flushes) : flushes_(flushes) {}
  bool Run() override;

 private:
  CFolderFlushes& flushes_;
};

}  // namespace morvex::sync
