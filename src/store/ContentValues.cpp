#include "store/ContentValues.h"

#include "core/StringPrintf.h"

namespace morvex::store {

CContentValues& CContentValues::PutInt(std::string column, int32_t value) {
  entries_.push_back({kValueInt32, std::move(column), value});
  return *this;
}
CContentValues& CContentValues::PutInt64(std::string column, int64_t value) {
  entries_.push_back({kValueInt64, std::move(column), value});
  return *this;
}
CContentValues& CContentValues::PutString(std::string column, std::string utf8) {
  entries_.push_back({kValueUtf8, std::move(column), std::move(utf8)});
  return *this;
}
CContentValues& CContentValues::PutWString(std::string column, std::u16string utf16) {
  entries_.push_back({kValueUtf16, std::move(column), std::move(utf16)});
  return *this;
}
CContentValues& CContentValues::PutBlob(std::string column, Blob bytes) {
  entries_.push_back({kValueBlob, std::move(column), std::move(bytes)});
  return *this;
}
CContentValues& CContentValues::PutExpression(std::string column, std::string sql) {
  entries_.push_back({kValueExpression, std::move(column), std::move(sql)});
  return *this;
}

CSelection CSelection::FromClause(std::string clause) {
  CSelection selection;
  selection.clause_ = std::move(clause);
  return selection;
}

CSelection& CSelection::AddInt(int32_t value) {
  arguments_.push_back({kValueInt32, {}, value});
  return *this;
}
CSelection& CSelection::AddInt64(int64_t value) {
  arguments_.push_back({kValueInt64, {}, value});
  return *this;
}
CSelection& CSelection::AddString(std::string utf8) {
  arguments_.push_back({kValueUtf8, {}, std::move(utf8)});
  return *this;
}
CSelection& CSelection::AddWString(std::u16string utf16) {
  arguments_.push_back({kValueUtf16, {}, std::move(utf16)});
  return *this;
}
CSelection& CSelection::AddBlob(Blob bytes) {
  arguments_.push_back({kValueBlob, {}, std::move(bytes)});
  return *this;
}

}  // namespace morvex::store
