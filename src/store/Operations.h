#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "store/ContentValues.h"
#include "store/Uri.h"

namespace morvex::store {

// A file-system step that a database change depends on. Run inside the
// batch's transaction just before its operation; true when the operation
// is to run.
class COperationCondition {
 public:
  virtual ~COperationCondition() = default;
  virtual bool Run() = 0;
};

enum OperationKind : int { kOperationInsert = 0, kOperationUpdate = 1, kOperationDelete = 2 };

// One insert, update or delete of a batch, optionally guarded.
class CContentOperation {
 public:
  CContentOperation(CUri uri, OperationKind kind) : uri_(std::move(uri)), kind_(kind) {}
  CContentOperation(const CContentOperation&) = delete;
  CContentOperation& operator=(const CContentOperation&) = delete;
  virtual ~CContentOperation() = default;

  // Null where the kind has none.
  virtual CContentValues* GetValues() { return nullptr; }
  virtual CSelection* GetSelection() { return nullptr; }
  OperationKind GetKind() const { return kind_; }
  const CUri& GetUri() const { return uri_; }

  void SetCondition(std::unique_ptr<COperationCondition> condition) { condition_ = std::move(condition); }
  COperationCondition* GetCondition() const { return condition_.get(); }

 private:
  CUri uri_;
  OperationKind kind_;
  std::unique_ptr<COperationCondition> condition_;
};

class CInsertOperation final : public CContentOperation {
 public:
  CInsertOperation(CUri uri, int conflict) : CContentOperation(std::move(uri), kOperationInsert), conflict_(conflict) {}
  CContentValues* GetValues() override { return &values_; }
  int Conflict() const { return conflict_; }

 private:
  CContentValues values_;
  int conflict_;
};

class CUpdateOperation final : public CContentOperation {
 public:
  CUpdateOperation(CUri uri, CSelection selection)
      : CContentOperation(std::move(uri), kOperationUpdate), selection_(std::move(selection)) {}
  CContentValues* GetValues() override { return &values_; }
  CSelection* GetSelection() override { return &selection_; }

 private:
  CContentValues values_;
  CSelection selection_;
};

class CDeleteOperation final : public CContentOperation {
 public:
  CDeleteOperation(CUri uri, CSelection selection)
      : CContentOperation(std::move(uri), kOperationDelete), selection_(std::move(selection)) {}
  CSelection* GetSelection() override { return &selection_; }

 private:
  CSelection selection_;
};

// The ordered operations of one batch; applying it does not empty it.
class COperationList {
 public:
  COperationList() = default;
  COperationList(const COperationList&) = delete;
  COperationList& operator=(const COperationList&) = delete;
  virtual ~COperationList() = default;

  // Each returns the new operation for filling in its values, arguments and
  // condition; the list keeps ownership.
  CInsertOperation& NewInsert(const CUri& uri, int conflict);
  // An empty selection updates or deletes every row of the table.
  CUpdateOperation& NewUpdate(const CUri& uri, CSelection selection);
  CDeleteOperation& NewDelete(const CUri& uri, CSelection selection);

  int Size() const { return static_cast<int>(operations_.size()); }
  void Clear() { operations_.clear(); }
  // Null for an index out of range.
  CContentOperation* At(int index) const;

 private:
  template <typename Operation, typename... Arguments>
  Operation& Append(Arguments&&... arguments);

  std::vector<std::unique_ptr<CContentOperation>> operations_;
};

}  // namespace morvex::store
