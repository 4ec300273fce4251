#pragma once

#include <cstdint>
#include <string>

#include "store/Operations.h"

namespace morvex::sync {

// The file-system steps that guard the database changes of a sync batch.
// Each runs inside the batch just before its change and lets the change
// happen only when the step succeeded. Every step first checks that the
// entry it touches still has the modification time the record knows
// (kNoCheck skips that; a directory's time is not followed, so a directory
// is never "changed"): a file the user changed since it was indexed is
// never overwritten, moved away or deleted; the record keeps its old clock
// and the next pass meets the difference again.
inline constexpr int64_t kNoCheck = -1;

// Applies the permissions a peer sent: its permission bits when it sent
// them (never set-user-ID, set-group-ID or sticky), otherwise its read-only
// bit.
bool ApplyPeerAttributes(const std::string& path, int32_t winAttr, int32_t unixAttr);

// Moves `source` to `destination`, replacing it only with `replace`. The
// destination's folder is noted for CConditionFlushFolders, which makes the
// renames of a batch durable together before the batch commits.
class CConditionMove final : public store::COperationCondition {
 public:
  CConditionMove(std::string source, std::string destination, int64_t expectedSourceMtime,
                 int64_t expectedDestinationMtime, bool replace)
      : source_(std::move(source)),
        destination_(std::move(destination)),
        sourceMtime_(expectedSourceMtime),
        destinationMtime_(expectedDestinationMtime),
        replace_(replace) {}
  int Run() override;

 private:
  std::string source_;
  std::string destination_;
  int64_t sourceMtime_;
  int64_t destinationMtime_;
  bool replace_;
};

// Makes a directory, then gives it the peer's time and permissions. With
// `replaceFile` a file in the way is deleted first, unless it changed;
// without, the step fails on it.
class CConditionMkdir final : public store::COperationCondition {
 public:
  CConditionMkdir(std::string path, int64_t expectedMtime, int64_t newMtime, int32_t winAttr, int32_t unixAttr,
                  bool replaceFile = true)
      : path_(std::move(path)),
        expectedMtime_(expectedMtime),
        newMtime_(newMtime),
        winAttr_(winAttr),
        unixAttr_(unixAttr),
        replaceFile_(replaceFile) {}
  int Run() override;

 private:
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
  explicit CConditionRmdir(std::string path) : path_(std::move(path)) {}
  int Run() override;

 private:
  std::string path_;
};

class CConditionDelFile final : public store::COperationCondition {
 public:
  CConditionDelFile(std::string path, int64_t expectedMtime) : path_(std::move(path)), expectedMtime_(expectedMtime) {}
  int Run() override;

 private:
  std::string path_;
  int64_t expectedMtime_;
};

// Gives an entry the peer's permissions and time.
class CConditionSetAttr final : public store::COperationCondition {
 public:
  CConditionSetAttr(std::string path, int64_t expectedMtime, int64_t newMtime, int32_t winAttr, int32_t unixAttr)
      : path_(std::move(path)), expectedMtime_(expectedMtime), newMtime_(newMtime), winAttr_(winAttr), unixAttr_(unixAttr) {}
  int Run() override;

 private:
  std::string path_;
  int64_t expectedMtime_;
  int64_t newMtime_;
  int32_t winAttr_;
  int32_t unixAttr_;
};

// Flushes the folders that moves of this thread noted since the last flush:
// one flush per folder and batch instead of one per file. Placed last in a
// batch, it runs before the batch commits, so no record names a file whose
// rename a power cut could still undo. Always lets its (empty) change run.
class CConditionFlushFolders final : public store::COperationCondition {
 public:
  int Run() override;
};

}  // namespace morvex::sync
