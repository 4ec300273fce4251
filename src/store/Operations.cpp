#include "store/Operations.h"

#include <utility>

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

CUpdateOperation& COperationList::NewUpdate(const CUri& uri, CSelection selection) {
  return Append<CUpdateOperation>(uri, std::move(selection));
}

CDeleteOperation& COperationList::NewDelete(const CUri& uri, CSelection selection) {
  return Append<CDeleteOperation>(uri, std::move(selection));
}

CContentOperation* COperationList::At(int index) const {
  if (index < 0 || index >= Size()) return nullptr;
  return operations_[static_cast<size_t>(index)].get();
}

}  // namespace morvex::store
