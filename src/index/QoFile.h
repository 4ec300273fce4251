#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "index/FileUtils.h"
#include "index/VectorClock.h"
#include "store/Operations.h"
#include "store/SQLite.h"

namespace morvex::index {

// What every file record offers: local records here, remote ones in the
// sync engine.
class IQoFile {
 public:
  virtual ~IQoFile() = default;
  virtual int64_t Id() const = 0;
  virtual int32_t Type() const = 0;
  virtual int32_t Status() const = 0;
  virtual int64_t Mtime() const = 0;
  virtual int64_t Length() const = 0;
  virtual int64_t Usn() const = 0;
  virtual const std::string& Path() const = 0;
  virtual const std::string& Sha1() const = 0;
  virtual int32_t Modifier() const = 0;
  virtual const CVectorClock* VClock() const = 0;
  virtual int32_t WinAttr() const = 0;
  virtual int32_t UnixAttr() const = 0;
  virtual int32_t AndrAttr() const = 0;
  virtual int32_t TreeId() const = 0;
};

// One row of File in memory: loaded, compared and changed (each changed
// column marks a dirty bit), appended to an operation list, dropped. Only
// the caller's batch writes it. Confined to the thread that made it.
//
// Paths are full local paths (tree root, "/", relative path). unix_attr
// holds the permission bits of everything indexed on this device, so a
// permission change is a change of the record.
class CQoFile : public IQoFile {
 public:
  enum Dirty : uint32_t {
    kDirtyType = 0x2,
    kDirtyStatus = 0x4,
    kDirtyMtime = 0x8,
    kDirtyLength = 0x10,
    kDirtyUsn = 0x20,
    kDirtyPath = 0x40,
    kDirtySha1 = 0x80,
    kDirtyModifier = 0x100,
    kDirtyWinAttr = 0x400,
    kDirtyUnixAttr = 0x800,
    kDirtyAndrAttr = 0x1000,
    kDirtyTreeId = 0x2000,
    kDirtyLocalClock = 0x4000,
    kDirtyOtherClock = 0x8000,
  };

  // id -1: an empty record; otherwise the row with that id (path empty).
  explicit CQoFile(int64_t id = -1);
  CQoFile(const CQoFile&) = default;
  CQoFile& operator=(const CQoFile&) = default;

  bool LoadByPath(int32_t treeId, const std::string& path);
  // Takes what the disk says; `sha1` only when given. The dirty mask.
  uint32_t SetFromFileInfo(const FileInfo& info, const std::optional<std::string>& sha1);
  uint32_t SetFromFile(const IQoFile& other);
  void MergeVClock(const CVectorClock& clock);
  void IncLocalClock();

  // Appends the changed columns with a fresh usn and modifier 0; nothing
  // when nothing changed.
  void AppendUpdate(store::COperationList& list, std::unique_ptr<store::COperationCondition> condition = nullptr);
  // Status 0, a new usn, local_clock + 1 (only for a live row). With a
  // list the update is appended; without, applied at once (true when a row
  // changed).
  bool MarkRemoved(store::COperationList* list);
  // Marks every live record strictly below this directory (exact paths,
  // case-sensitive, at a "/" boundary) removed with one shared usn.
  void MarkSubtreeRemoved(store::COperationList& list);

  int64_t Id() const override { return id_; }
  int32_t Type() const override { return type_; }
  int32_t Status() const override { return status_; }
  int64_t Mtime() const override { return mtime_; }
  int64_t Length() const override { return length_; }
  int64_t Usn() const override { return usn_; }
  const std::string& Path() const override { return path_; }
  const std::string& Sha1() const override { return sha1_; }
  int32_t Modifier() const override { return modifier_; }
  const CVectorClock* VClock() const override { return clock_ ? &*clock_ : nullptr; }
  int32_t WinAttr() const override { return winAttr_; }
  int32_t UnixAttr() const override { return unixAttr_; }
  int32_t AndrAttr() const override { return andrAttr_; }
  int32_t TreeId() const override { return treeId_; }
  uint32_t DirtyMask() const { return dirty_; }

 protected:
  // Fills the record from a row of the record query (every column but path).
  void Fill(const store::CSQLiteCursor& row);

  int64_t id_ = -1;
  int32_t type_ = 0;
  int32_t status_ = 0;
  int64_t mtime_ = 0;
  int64_t length_ = 0;
  int64_t usn_ = 0;
  std::string path_;
  std::string sha1_;
  int32_t modifier_ = 0;
  int32_t winAttr_ = 0;
  int32_t unixAttr_ = 0;
  int32_t andrAttr_ = 0;
  int32_t treeId_ = 0;
  std::optional<CVectorClock> clock_;
  uint32_t dirty_ = 0;
};

// A record that is not stored yet (id -1).
class CQoFileBuilder final : public CQoFile {
 public:
  // A path just found on disk: status 1, a fresh usn, local_clock 1.
  CQoFileBuilder(const std::string& path, const std::string& sha1, int32_t treeId, int32_t unixAttr,
                 int32_t andrAttr, const FileInfo& info);
  // A copy of another record for this tree, with a fresh usn; its clock,
  // or local_clock 1 when it has none.
  CQoFileBuilder(int32_t treeId, const IQoFile& source);

  // INSERT OR IGNORE: an existing (tree_id, path) row stays as it is.
  void AppendInsert(store::COperationList& list, std::unique_ptr<store::COperationCondition> condition = nullptr);
};

// The attribute bits kept for a record of that type.
inline int32_t KeptAttributes(uint32_t winAttr, bool directory) {
  return static_cast<int32_t>(winAttr & (directory ? kKeepAttrDir : kKeepAttrFile));
}

// Marks every live record of the tree strictly below `dir` removed with one
// shared usn (exact paths, at a "/" boundary), whether or not `dir` has a
// record of its own.
void MarkRemovedBelow(int32_t treeId, const std::string& dir, store::COperationList& list);
// True when the tree has live records strictly below `dir`.
bool AnyLiveBelow(int32_t treeId, const std::string& dir);

// Appends an update of the File table that changes no row: a last step of a
// batch for a condition to run in, inside the batch's transaction.
store::CUpdateOperation& AppendNoChange(store::COperationList& list);

// The number of records, in any tree, whose path starts with `prefix` and
// ends with `suffix` (compared as exact text, no pattern characters).
int32_t CountRecordsNamed(const std::string& prefix, const std::string& suffix);

// Every record of every tree (removed ones too, as the table holds them)
// and the sum of their lengths; zeros when the query fails. The usage
// report sends them.
struct RecordTotals {
  int32_t records = 0;
  int64_t bytes = 0;
};
RecordTotals CountAllRecords();

}  // namespace morvex::index
