#include "store/Operations.h"

#include <cstdarg>

#include "core/StringPrintf.h"

namespace morvex::store {

CInsertOperation& COperationList::NewInsert(const CUri& uri, int conflict) {
  auto operation = std::make_unique<CInsertOperation>(uri, conflict);
  CInsertOperation& result = *operation;
  operations_.push_back(std::move(operation));
  return result;
}

CUpdateOperation& COperationList::NewUpdate(const CUri& uri, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string clause = core::StringPrintfV(format, arguments);
  va_end(arguments);
  auto operation = std::make_unique<CUpdateOperation>(uri, CSelection::FromClause(std::move(clause)));
  CUpdateOperation& result = *operation;
  operations_.push_back(std::move(operation));
  return result;
}

CDeleteOperation& COperationList::NewDelete(const CUri& uri, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string clause = core::StringPrintfV(format, arguments);
  va_end(arguments);
  auto operation = std::make_unique<CDeleteOperation>(uri, CSelection::FromClause(std::move(clause)));
  CDeleteOperation& result = *operation;
  operations_.push_back(std::move(operation));
  return result;
}

CContentOperation* COperationList::At(int index) const {
  if (index < 0 || index >= Size()) return nullptr;
  return operations_[static_cast<size_t>(index)].get();
}

}  // namespace morvex::store
