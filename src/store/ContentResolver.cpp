#include "store/ContentResolver.h"

namespace morvex::store {
namespace {

// Moves the cursor to its first row; null when there is none.
std::unique_ptr<CSQLiteCursor> AtFirstRow(std::unique_ptr<CSQLiteCursor> cursor) {
  if (!cursor || !cursor->MoveToNext()) return nullptr;
  return cursor;
}

}  // namespace

CContentResolver& CContentResolver::Instance() {
  static CContentResolver resolver;
  return resolver;
}

CContentProvider* CContentResolver::Provider() const {
  auto& list = ProviderList();
  return list.empty() ? nullptr : list.front();
}

std::unique_ptr<CSQLiteCursor> CContentResolver::Query(const CUri& uri, const Columns& columns,
                                                       const CSelection& selection, std::string_view order) {
  CContentProvider* provider = Provider();
  if (provider == nullptr) return nullptr;
  return provider->Query(uri, columns, selection, order);
}

int64_t CContentResolver::Insert(const CUri& uri, const CContentValues& values, int conflict) {
  CContentProvider* provider = Provider();
  if (provider == nullptr) return 0;
  std::lock_guard lock(writeLock_);
  return provider->Insert(uri, values, conflict);
}

int64_t CContentResolver::Update(const CUri& uri, const CContentValues& values, const CSelection& selection) {
  CContentProvider* provider = Provider();
  if (provider == nullptr) return 0;
  std::lock_guard lock(writeLock_);
  return provider->Update(uri, values, selection);
}

int64_t CContentResolver::Delete(const CUri& uri, const CSelection& selection) {
  CContentProvider* provider = Provider();
  if (provider == nullptr) return 0;
  std::lock_guard lock(writeLock_);
  return provider->Delete(uri, selection);
}

int64_t CContentResolver::BulkInsert(const CUri& uri, const std::vector<CContentValues>& values, int conflict) {
  CContentProvider* provider = Provider();
  if (provider == nullptr) return 0;
  std::lock_guard lock(writeLock_);
  return provider->BulkInsert(uri, values, conflict);
}

int64_t CContentResolver::ApplyBatch(const std::string& /*authority*/, const COperationList& operations) {
  CContentProvider* provider = Provider();
  if (provider == nullptr) return 0;
  std::lock_guard lock(writeLock_);
  return provider->ApplyBatch(operations);
}

std::unique_ptr<CSQLiteCursor> CContentResolver::FirstRow(const CUri& uri, const std::string& column,
                                                          const CSelection& selection) {
  CContentProvider* provider = Provider();
  if (provider == nullptr) return nullptr;
  return AtFirstRow(provider->Query(uri, {column}, selection, {}));
}

int32_t CContentResolver::QueryInt(const CUri& uri, const std::string& column, int32_t fallback,
                                   const CSelection& selection) {
  auto row = FirstRow(uri, column, selection);
  return row ? row->GetInt(0) : fallback;
}

int64_t CContentResolver::QueryInt64(const CUri& uri, const std::string& column, int64_t fallback,
                                     const CSelection& selection) {
  auto row = FirstRow(uri, column, selection);
  return row ? row->GetInt64(0) : fallback;
}

std::optional<std::u16string> CContentResolver::QueryWString(const CUri& uri, const std::string& column,
                                                             const CSelection& selection) {
  auto row = FirstRow(uri, column, selection);
  if (!row) return std::nullopt;
  return std::u16string(row->GetWString(0));
}

bool CContentResolver::QueryString(const CUri& uri, const std::string& column, std::string& out,
                                   const CSelection& selection) {
  auto row = FirstRow(uri, column, selection);
  if (!row) return false;
  out.assign(row->GetString(0));
  return true;
}

std::optional<std::string> CContentResolver::QueryStringDup(const CUri& uri, const std::string& column,
                                                            const CSelection& selection) {
  auto row = FirstRow(uri, column, selection);
  if (!row) return std::nullopt;
  return std::string(row->GetString(0));
}

void CContentResolver::RegisterObserver(const CUri& uri, bool descendants, CContentObserver* observer) {
  if (CContentProvider* provider = Provider()) provider->RegisterObserver(uri, descendants, observer);
}

void CContentResolver::UnregisterObserver(const CUri& uri, CContentObserver* observer) {
  if (CContentProvider* provider = Provider()) provider->UnregisterObserver(uri, observer);
}

void CContentResolver::NotifyChange(const CUri& uri) {
  if (CContentProvider* provider = Provider()) provider->NotifyChange(uri);
}

}  // namespace morvex::store
