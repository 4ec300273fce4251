#pragma once

#include <cstdint>
#include <string>

#include "Morvex.pb.h"
#include "index/QoFile.h"
#include "index/VectorClock.h"
#include "store/Operations.h"
#include "sync/FetchFile.h"
#include "sync/SyncBatch.h"
#include "sync/TempFile.h"
#include "sync/TreeFiles.h"

namespace morvex::sync {

class CConditionMove;

// One record of a peer's tree that a pass acts on, next to the local record
// of the same path. The Apply operations turn the pass's decision into
// database changes guarded by file-system steps (sync/Conditions.h) and
// append them to the batch; nothing changes until the batch is applied.
//
// The object owns its temporary file (CTempFile, "<full path>.~morvex"):
// whatever was not moved into place is deleted with the object, so no
// temporary file outlives its pass. Every file-system step on its paths is
// taken beneath the tree's root (CTreeFiles).
//
// Threads: lives on the pass's worker thread.
class CMorvexFile final : public index::IQoFile, public IFetchFile {
 public:
  // `fullPath` is the confined local path of `stat.path()` in the tree at
  // `root`; `clock` the remote clock in the tree's numbering. Its steps
  // count paths refused for leaving the tree into `escapes` (the pass's,
  // which outlives this object) when given.
  CMorvexFile(int32_t treeId, const std::string& root, std::string fullPath, const qo::Stat& stat,
              index::CVectorClock clock, int32_t* escapes = nullptr);
  CMorvexFile(const CMorvexFile&) = delete;
  CMorvexFile& operator=(const CMorvexFile&) = delete;
  ~CMorvexFile() override = default;

  // The local record of the same path; false (and an empty record) when
  // there is none.
  bool LoadLocal();
  const index::CQoFile& Local() const { return local_; }
  bool HasLocal() const { return local_.Id() >= 0; }
  bool Ready() const { return ready_; }

  // IQoFile: the remote values.
  int64_t Id() const override { return -1; }
  int32_t Type() const override { return type_; }
  int32_t Status() const override { return status_; }
  int64_t Mtime() const override { return mtime_; }
  int64_t Length() const override { return length_; }
  int64_t Usn() const override { return usn_; }
  const std::string& Path() const override { return fullPath_; }
  const std::string& Sha1() const override { return sha1_; }
  int32_t Modifier() const override { return 0; }
  const index::CVectorClock* VClock() const override { return &clock_; }
  int32_t WinAttr() const override { return winAttr_; }
  int32_t UnixAttr() const override { return unixAttr_; }
  int32_t AndrAttr() const override { return andrAttr_; }
  int32_t TreeId() const override { return treeId_; }

  // IFetchFile.
  const std::string& TempPath() const override { return temp_.Path(); }
  int CreateTemp() override { return temp_.Create(); }
  // Once its batch is applied: the temporary file, unless moved into
  // place, is deleted and let go.
  void ReleaseTemp() { temp_.Remove(); }
  const std::string& RemotePath() const override { return wirePath_; }
  void FillStat(qo::Stat& stat) const override;
  void SetFailed() override { ready_ = false; }
  void SetReady() override { ready_ = true; }

  // Concurrent versions (local and remote clocks conflict). With `isLower`
  // (the local tree's UUID sorts first) the local file gives up its path.
  // Those that move files take the batch, whose last step flushes the
  // folders the moves changed.
  void ApplyConflict(CSyncBatch& list, bool isLower);
  void ApplyDirectory(store::COperationList& list);
  void ApplyAttributes(store::COperationList& list);
  void ApplyDelete(store::COperationList& list);
  void ApplyNewFile(CSyncBatch& list);
  void ApplyUpdate(CSyncBatch& list);

  // The local record is a present entry of the same type (and, for a file,
  // content) as the remote one.
  bool OnlyAttributesDiffer() const;
  // Where a conflicting copy of this path goes: "a(Conflict).txt", then
  // "a(Conflict)-1.txt" and up, never a name recorded or on disk.
  std::string ConflictName() const;

 private:
  // Time and permissions on the downloaded file; false when it is not
  // there or not complete.
  bool PrepareTemp();
  void TakeRemote() { local_.SetFromFile(*this); }
  void MergeClock() { local_.MergeVClock(clock_); }
  // The local record becomes the remote version (values and merged clock),
  // written when `guard` lets it.
  void TakeRemoteVersion(store::COperationList& list, std::unique_ptr<store::COperationCondition> guard) {
    TakeRemote();
    MergeClock();
    local_.AppendUpdate(list, std::move(guard));
  }
  // A move of the temporary file this object's fetch wrote, and of no other.
  std::unique_ptr<CConditionMove> MoveTemp(CSyncBatch& batch, const std::string& destination,
                                           int64_t expectedDestinationMtime, bool replace) const;
  // The record of a conflict copy at `path`, written when `condition` (the
  // step that makes the copy) succeeds; the batch notes the copy then.
  void AppendConflictRecord(CSyncBatch& list, const std::string& path, const index::IQoFile& version,
                            std::unique_ptr<store::COperationCondition> condition);
  void BothPresentFiles(CSyncBatch& list, bool isLower);

  std::string wirePath_;
  CTreeFiles tree_;
  std::string fullPath_;
  CTempFile temp_;
  int32_t type_;
  int32_t status_;
  int64_t length_;
  int64_t mtime_;
  std::string sha1_;
  int64_t usn_;
  int32_t winAttr_;
  int32_t unixAttr_;
  int32_t andrAttr_;
  int32_t treeId_;
  bool ready_;
  index::CVectorClock clock_;
  index::CQoFile local_;
};

}  // namespace morvex::sync
