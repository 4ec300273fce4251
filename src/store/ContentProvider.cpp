#include "store/ContentProvider.h"

#include <glog/logging.h>

#include <algorithm>

#include "core/AppError.h"
#include "platform/Metadir.h"
#include "store/Schema.h"

namespace morvex::store {

uint32_t COnChangeRunable::Run() {
  if (observer_ == nullptr) return core::kErrorNoTarget;
  observer_->OnChange(std::move(cursor_));
  return 0;
}

bool CContentProvider::Initialise(const std::string& metadir) {
  initError_.clear();
  const platform::AppDirResult dir = platform::EnsureAppDir(metadir.empty() ? platform::DefaultMetadir() : metadir);
  if (!dir.ok) {
    initError_ = dir.error;
    LOG(ERROR) << initError_;
    return false;
  }
  return OpenDatabase(db_, dir.path, initError_);
}

bool CContentProvider::InitialiseReadOnly(const std::string& metadir) {
  initError_.clear();
  return OpenDatabaseReadOnly(db_, metadir + "/" + platform::kAppDirName, initError_);
}

void CContentProvider::CleanUp() { db_.Close(); }

bool CContentProvider::RefuseWrite(const CUri& uri) const {
  if (uri.GetUriString() != uris::SyncDir().GetUriString()) return false;
  LOG(ERROR) << "Unsupported Uri: " << uri.GetUriString();
  return true;
}

std::unique_ptr<CSQLiteCursor> CContentProvider::Query(const CUri& uri, const std::vector<std::string>& columns,
                                                       const CSelection& selection, std::string_view order) {
  return db_.Query(uri.Table(), columns, selection, order);
}

int64_t CContentProvider::Insert(const CUri& uri, const CContentValues& values, int conflict) {
  if (RefuseWrite(uri)) return -1;
  const int64_t rowid = db_.Insert(uri.Table(), values, conflict);
  if (rowid > 0) NotifyChange(uri);
  return rowid;
}

int64_t CContentProvider::Update(const CUri& uri, const CContentValues& values, const CSelection& selection) {
  if (RefuseWrite(uri)) return -1;
  const int64_t changed = db_.Update(uri.Table(), values, selection);
  if (changed > 0) NotifyChange(uri);
  return changed;
}

int64_t CContentProvider::Delete(const CUri& uri, const CSelection& selection) {
  if (RefuseWrite(uri)) return -1;
  const int64_t changed = db_.Delete(uri.Table(), selection);
  if (changed > 0) NotifyChange(uri);
  return changed;
}

int64_t CContentProvider::BulkInsert(const CUri& uri, const std::vector<CContentValues>& values, int conflict) {
  if (RefuseWrite(uri)) return -1;
  int64_t inserted = 0;
  {
    CSQLiteTransation transaction(db_);
    for (const CContentValues& row : values) {
      if (db_.Insert(uri.Table(), row, conflict) != -1) ++inserted;
    }
  }
  if (inserted > 0) NotifyChange(uri);
  return inserted;
}

int64_t CContentProvider::ApplyBatch(const COperationList& operations) {
  int64_t total = 0;
  std::vector<const CUri*> changed;
  {
    CSQLiteTransation transaction(db_);
    for (int i = 0; i < operations.Size(); ++i) {
      CContentOperation* operation = operations.At(i);
      if (COperationCondition* condition = operation->GetCondition(); condition != nullptr && !condition->Run()) {
        continue;
      }
      const std::string table = operation->GetUri().Table();
      int64_t rows = 0;
      switch (operation->GetKind()) {
        case kOperationInsert: {
          auto* insert = static_cast<CInsertOperation*>(operation);
          rows = db_.Insert(table, *insert->GetValues(), insert->Conflict()) > 0 ? 1 : 0;
          break;
        }
        case kOperationUpdate:
          rows = db_.Update(table, *operation->GetValues(), *operation->GetSelection());
          break;
        case kOperationDelete:
          rows = db_.Delete(table, *operation->GetSelection());
          break;
      }
      if (rows <= 0) continue;
      total += rows;
      const CUri& uri = operation->GetUri();
      if (std::none_of(changed.begin(), changed.end(), [&](const CUri* seen) { return *seen == uri; })) {
        changed.push_back(&uri);
      }
    }
  }
  for (const CUri* uri : changed) NotifyChange(*uri);
  return total;
}

void CContentProvider::RegisterObserver(const CUri& uri, bool descendants, CContentObserver* observer) {
  std::lock_guard lock(observerMutex_);
  (descendants ? prefix_ : exact_)[uri.GetPath()].push_back(observer);
}

void CContentProvider::UnregisterObserver(const CUri& uri, CContentObserver* observer) {
  std::lock_guard lock(observerMutex_);
  for (auto* registry : {&exact_, &prefix_}) {
    auto it = registry->find(uri.GetPath());
    if (it == registry->end()) continue;
    std::erase(it->second, observer);
    if (it->second.empty()) registry->erase(it);
  }
}

void CContentProvider::Dispatch(CContentObserver* observer) {
  if (core::CHandler* handler = observer->GetHandler()) {
    handler->Post(std::make_unique<COnChangeRunable>(observer, observer->Query()));
  } else {
    observer->OnChange(observer->Query());
  }
}

void CContentProvider::NotifyChange(const CUri& uri) {
  std::lock_guard lock(observerMutex_);
  const std::string& path = uri.GetPath();
  // Copies: an observer may unregister itself or others while it runs.
  if (auto it = exact_.find(path); it != exact_.end()) {
    const std::vector<CContentObserver*> observers = it->second;
    for (CContentObserver* observer : observers) Dispatch(observer);
  }
  std::vector<CContentObserver*> prefixed;
  for (const auto& [registered, observers] : prefix_) {
    if (path.compare(0, registered.size(), registered) == 0) {
      prefixed.insert(prefixed.end(), observers.begin(), observers.end());
    }
  }
  for (CContentObserver* observer : prefixed) Dispatch(observer);
}

std::vector<CContentProvider*>& ProviderList() {
  static CContentProvider provider;
  static std::vector<CContentProvider*> list{&provider};
  return list;
}

CContentProvider& MainProvider() { return *ProviderList().front(); }

bool InitContentFramework(const std::string& metadir) {
  for (CContentProvider* provider : ProviderList()) {
    if (provider->Initialise(metadir)) continue;
    for (CContentProvider* other : ProviderList()) other->CleanUp();
    return false;
  }
  return true;
}

bool InitContentFrameworkReadOnly(const std::string& metadir) {
  for (CContentProvider* provider : ProviderList()) {
    if (provider->InitialiseReadOnly(metadir)) continue;
    for (CContentProvider* other : ProviderList()) other->CleanUp();
    return false;
  }
  return true;
}

void ShutdownContentFramework() {
  for (CContentProvider* provider : ProviderList()) provider->CleanUp();
}

}  // namespace morvex::store
