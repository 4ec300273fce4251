#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "store/ContentProvider.h"

namespace morvex::store {

// The one door to the store for every subsystem. Where clauses are
// CSelections with bound arguments (an empty selection means no where
// clause), so no value is ever written into SQL text.
//
// Threads: any thread. Writes hold writeLock_ (recursive) for the whole
// write including the observers' notification; queries take no lock of
// their own.
class CContentResolver {
 public:
  static CContentResolver& Instance();

  CContentResolver() = default;
  CContentResolver(const CContentResolver&) = delete;
  CContentResolver& operator=(const CContentResolver&) = delete;
  virtual ~CContentResolver() = default;

  using Columns = std::vector<std::string>;

  std::unique_ptr<CSQLiteCursor> Query(const CUri& uri, const Columns& columns, const CSelection& selection,
                                       std::string_view order = {});

  int64_t Insert(const CUri& uri, const CContentValues& values, int conflict);
  int64_t Update(const CUri& uri, const CContentValues& values, const CSelection& selection);
  int64_t Delete(const CUri& uri, const CSelection& selection);
  int64_t BulkInsert(const CUri& uri, const std::vector<CContentValues>& values, int conflict);
  // The authority names the provider in the URIs' sense; this process has one.
  int64_t ApplyBatch(const std::string& authority, const COperationList& operations);

  // Single values of the first row. A query that finds no row (or does not
  // prepare) gives the default or nothing.
  int32_t QueryInt(const CUri& uri, const std::string& column, int32_t fallback, const CSelection& selection);
  int64_t QueryInt64(const CUri& uri, const std::string& column, int64_t fallback, const CSelection& selection);
  std::optional<std::u16string> QueryWString(const CUri& uri, const std::string& column,
                                             const CSelection& selection);
  // True with `out` assigned, false when there is no row.
  bool QueryString(const CUri& uri, const std::string& column, std::string& out, const CSelection& selection);
  std::optional<std::string> QueryStringDup(const CUri& uri, const std::string& column,
                                            const CSelection& selection);

  void RegisterObserver(const CUri& uri, bool descendants, CContentObserver* observer);
  void UnregisterObserver(const CUri& uri, CContentObserver* observer);
  void NotifyChange(const CUri& uri);

 private:
  CContentProvider* Provider() const;
  std::unique_ptr<CSQLiteCursor> FirstRow(const CUri& uri, const std::string& column, const CSelection& selection);

  std::recursive_mutex writeLock_;
};

}  // namespace morvex::store
