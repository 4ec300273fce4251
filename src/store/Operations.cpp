#include "store/Operations.h"

#include <cstdarg>

#include "core/StringPrintf.h"

namespace morvex::store {

template <typename Operation, typename... Arguments>
Operation& COperationList::Append(Arguments&&... arguments) {
  auto operation = std::make_unique<Operation>(std::forward<Arguments>(arguments)...);
  Operation& result = *operation;
  operations_.push_back(std::move(operation));
  return result;
}

CInsertOperation& COperationList::NewInsert(const CUri& uri, int conflict) {
  return Append<CInsertOperation>(uri, conflict);
}

CUpdateOperation& COperationList::NewUpdate(const CUri& uri, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string clause = core::StringPrintfV(format, arguments);
  va_end(arguments);
  return Append<CUpdateOperation>(uri, CSelection::FromClause(std::move(clause)));
}

CDeleteOperation& COperationList::NewDelete(const CUri& uri, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string clause = core::StringPrintfV(format, arguments);
  va_end(arguments);
  return Append<CDeleteOperation>(uri, CSelection::FromClause(std::move(clause)));
}

CContentOperation* COperationList::At(int index) const {
  if (index < 0 || index >= Size()) return nullptr;
  return operations_[static_cast<size_t>(index)].get();
}

}  // namespace morvex::store
