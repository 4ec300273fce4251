#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/ContentObserver.h"
#include "store/Operations.h"
#include "store/SQLite.h"
#include "store/Uri.h"

namespace morvex::store {

// Owns the database connection, maps content URIs to tables and tells the
// registered observers of every committed change.
//
// Threads: any thread may call every operation. The connection's mutex
// serialises the SQL work (a whole batch holds it); observers_ is guarded by
// observerMutex_, which is held while observers are notified. Both are
// recursive so that a synchronous observer may read and write again.
class CContentProvider {
 public:
  CContentProvider() = default;
  CContentProvider(const CContentProvider&) = delete;
  CContentProvider& operator=(const CContentProvider&) = delete;
  virtual ~CContentProvider() = default;

  // Opens "<metadir>/Morvex/Morvex.db"; false when it cannot, with the
  // reason in InitError() for the start-up's message.
  virtual bool Initialise(const std::string& metadir);
  // Opens the database of `metadir` (which must exist) for reading only,
  // as a client beside the running service does: every write then fails.
  // False with the reason in InitError().
  bool InitialiseReadOnly(const std::string& metadir);
  virtual void CleanUp();
  const std::string& InitError() const { return initError_; }

  virtual std::unique_ptr<CSQLiteCursor> Query(const CUri& uri, const std::vector<std::string>& columns,
                                               const CSelection& selection, std::string_view order);
  virtual int64_t Insert(const CUri& uri, const CContentValues& values, int conflict);
  virtual int64_t Update(const CUri& uri, const CContentValues& values, const CSelection& selection);
  virtual int64_t Delete(const CUri& uri, const CSelection& selection);
  // All inserts in one transaction; the number that did not fail.
  virtual int64_t BulkInsert(const CUri& uri, const std::vector<CContentValues>& values, int conflict);
  // The operations in one transaction, each guarded by its condition; the
  // total of changed rows. Every changed URI is notified once afterwards.
  virtual int64_t ApplyBatch(const COperationList& operations);

  // With descendants, the observer also hears of every URI whose path starts
  // with this one's ("/Device" covers "/DeviceTTL").
  virtual void RegisterObserver(const CUri& uri, bool descendants, CContentObserver* observer);
  // Removes every registration of the observer on that path.
  virtual void UnregisterObserver(const CUri& uri, CContentObserver* observer);
  virtual void NotifyChange(const CUri& uri);

  CSQLite& Database() { return db_; }

 private:
  bool RefuseWrite(const CUri& uri) const;
  static void Dispatch(CContentObserver* observer);

  CSQLite db_;
  std::string initError_;
  std::recursive_mutex observerMutex_;
  std::map<std::string, std::vector<CContentObserver*>> exact_;   // guarded by observerMutex_
  std::map<std::string, std::vector<CContentObserver*>> prefix_;  // guarded by observerMutex_
};

// The content framework: the process's providers, initialised at start-up
// and cleaned up at shutdown. This service has one provider.
std::vector<CContentProvider*>& ProviderList();
CContentProvider& MainProvider();
bool InitContentFramework(const std::string& metadir);
// The same for a process that only reads another process's database.
bool InitContentFrameworkReadOnly(const std::string& metadir);
void ShutdownContentFramework();

}  // namespace morvex::store
