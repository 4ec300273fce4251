#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace morvex::store {

// Kinds of values and selection arguments, shared by every caller.
enum ValueKind : int {
  kValueInt32 = 0,
  kValueInt64 = 1,
  kValueUtf8 = 2,
  kValueUtf16 = 3,
  kValueBlob = 4,
  kValueExpression = 5,  // SQL text written into the statement, not bound
};

using Blob = std::vector<uint8_t>;
using Value = std::variant<int32_t, int64_t, std::string, std::u16string, Blob>;

// One column value of an insert or update. An expression keeps its SQL text
// in the std::string alternative.
struct ContentValue {
  ValueKind kind;
  std::string column;
  Value value;
};

// The ordered column values of an insert or update. Values are copied in, so
// the list owns everything it refers to.
class CContentValues {
 public:
  CContentValues() = default;
  virtual ~CContentValues() = default;
  CContentValues(const CContentValues&) = default;
  CContentValues& operator=(const CContentValues&) = default;
  CContentValues(CContentValues&&) = default;
  CContentValues& operator=(CContentValues&&) = default;

  CContentValues& PutInt(std::string column, int32_t value);
  CContentValues& PutInt64(std::string column, int64_t value);
  CContentValues& PutString(std::string column, std::string utf8);
  CContentValues& PutWString(std::string column, std::u16string utf16);
  CContentValues& PutBlob(std::string column, Blob bytes);
  // The clock blob of a File row ("other_clock").
  CContentValues& PutClockBlob(Blob bytes) { return PutBlob("other_clock", std::move(bytes)); }
  // Writes `sql` into the statement as the column's value, e.g. "local_clock+1".
  CContentValues& PutExpression(std::string column, std::string sql);

  const std::vector<ContentValue>& Entries() const { return entries_; }
  size_t Size() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }

 private:
  std::vector<ContentValue> entries_;
};

// A where clause with "?" placeholders and the arguments bound to them in
// order. The clause is formatted printf-style when the selection is made.
class CSelection {
 public:
  CSelection() = default;
  // The clause as written, with "?" for every value: values are never
  // formatted into it, only bound.
  explicit CSelection(std::string clause) : clause_(std::move(clause)) {}
  static CSelection FromClause(std::string clause);
  virtual ~CSelection() = default;
  CSelection(const CSelection&) = default;
  CSelection& operator=(const CSelection&) = default;
  CSelection(CSelection&&) = default;
  CSelection& operator=(CSelection&&) = default;

  CSelection& AddInt(int32_t value);
  CSelection& AddInt64(int64_t value);
  CSelection& AddString(std::string utf8);
  CSelection& AddWString(std::u16string utf16);
  CSelection& AddBlob(Blob bytes);

  const std::string& Clause() const { return clause_; }
  const std::vector<ContentValue>& Arguments() const { return arguments_; }

 private:
  std::string clause_;
  std::vector<ContentValue> arguments_;  // column names unused
};

}  // namespace morvex::store
