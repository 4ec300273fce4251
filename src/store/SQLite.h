#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/ContentValues.h"

namespace morvex::store {

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// A result set over one prepared statement; finalised when destroyed, which
// must happen before the connection closes.
// Threads: one cursor is stepped by one thread at a time; stepping without
// the connection's mutex is safe because the connection runs serialised.
class CSQLiteCursor {
 public:
  explicit CSQLiteCursor(StatementPtr statement) : statement_(std::move(statement)) {}
  CSQLiteCursor(const CSQLiteCursor&) = delete;
  CSQLiteCursor& operator=(const CSQLiteCursor&) = delete;
  virtual ~CSQLiteCursor() = default;

  // True when a row is available; false at the end or on an error (logged).
  virtual bool MoveToNext();
  virtual bool IsEnd() const { return end_; }
  // True when a step failed: the rows read so far are not all there are.
  bool Failed() const { return failed_; }
  virtual int32_t GetInt(int column) const;
  virtual int64_t GetInt64(int column) const;
  // Valid until the next step. Empty for NULL.
  virtual std::string_view GetString(int column) const;
  virtual std::u16string_view GetWString(int column) const;
  virtual const void* GetBlob(int column) const;
  virtual int GetBytes(int column) const;
  bool IsNull(int column) const;

  // The same reads by the result column's name (as the query's column list
  // wrote it), so a row is read by what it means rather than where it sits.
  // A name the query did not select is a programming error: logged, and it
  // reads as NULL.
  int ColumnIndex(std::string_view name) const;
  int32_t GetInt(std::string_view column) const;
  int64_t GetInt64(std::string_view column) const;
  std::string_view GetString(std::string_view column) const;
  std::u16string_view GetWString(std::string_view column) const;
  const void* GetBlob(std::string_view column) const;
  int GetBytes(std::string_view column) const;
  bool IsNull(std::string_view column) const;

 private:
  StatementPtr statement_;
  bool end_ = false;
  bool failed_ = false;
};

// Conflict modes of an insert.
enum Conflict : int { kConflictNone = 0, kConflictIgnore = 1, kConflictReplace = 2 };

// One SQLite connection with statement builders. Table and column names are
// identifiers supplied by the code, never by peers; values always travel as
// bound parameters.
//
// Threads: the connection is opened in serialised mode and shared by every
// thread. Each write holds the connection's (recursive) mutex from prepare to
// finalise; queries hold it while preparing. A busy database (another
// process holding a lock) is waited for up to kBusyTimeoutMs, then the
// statement fails and is logged.
class CSQLite {
 public:
  static constexpr int kBusyTimeoutMs = 5000;

  CSQLite() = default;
  CSQLite(const CSQLite&) = delete;
  CSQLite& operator=(const CSQLite&) = delete;
  virtual ~CSQLite() { Close(); }

  // Opens (or creates, mode 0600) the database file; false when it cannot.
  bool Open(const std::string& path);
  // Opens an existing database file for reading only (another process owns
  // it and writes it); false with SQLite's reason in `error`.
  bool OpenReadOnly(const std::string& path, std::string& error);
  // Prepares and steps one statement; true when it ran to completion.
  bool Exec(std::string_view sql);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  sqlite3* Handle() const { return db_; }
  const std::string& Path() const { return path_; }

  // An empty `where` reads the whole table. Null when the statement does not
  // prepare.
  virtual std::unique_ptr<CSQLiteCursor> Query(std::string_view table, const std::vector<std::string>& columns,
                                               std::string_view where);
  // An empty `order` adds no ORDER BY.
  virtual std::unique_ptr<CSQLiteCursor> Query(std::string_view table, const std::vector<std::string>& columns,
                                               const CSelection& selection, std::string_view order);
  // Row id of the new row, 0 when a conflict clause ignored it, or -1.
  virtual int64_t Insert(std::string_view table, const CContentValues& values, int conflict);
  // Changed rows, or -1.
  virtual int64_t Update(std::string_view table, const CContentValues& values, std::string_view where);
  virtual int64_t Update(std::string_view table, const CContentValues& values, const CSelection& selection);
  virtual int64_t Delete(std::string_view table, std::string_view where);
  virtual int64_t Delete(std::string_view table, const CSelection& selection);

  // Building blocks shared with the cursor and the schema.
  StatementPtr Prepare(std::string_view sql);
  std::string ErrorMessage() const;

 private:
  // Opens path_ in `mode` (read-write or read-only) with the flags every
  // connection shares; false with SQLite's reason in `error`.
  bool OpenWith(int mode, std::string& error);
  // Steps a prepared write statement to completion. `constraintWarning`
  // turns a constraint failure into the warning of a plain insert.
  bool StepToDone(sqlite3_stmt* statement, std::string_view sql, bool constraintWarning);
  // Prepare, bind and step one write; the caller holds the connection's mutex.
  bool RunWrite(const std::string& sql, const CContentValues* values, const CSelection* selection,
                bool constraintWarning);
  bool BindAll(sqlite3_stmt* statement, const CContentValues* values, const CSelection* selection,
               std::string_view sql);

  sqlite3* db_ = nullptr;
  std::string path_;
  // Prepared write statements by their text, reused across calls: a batch
  // of thousands of inserts prepares its statement once. Used only while
  // the connection's mutex is held.
  std::unordered_map<std::string, StatementPtr> writeStatements_;
};

// A scoped transaction: holds the connection's mutex from BEGIN to COMMIT or
// ROLLBACK. It commits whatever its statements did unless BEGIN failed.
// Made while another transaction is open on the connection, it joins that
// one instead, so that its end never rolls back the outer work.
class CSQLiteTransation {
 public:
  explicit CSQLiteTransation(CSQLite& db);
  CSQLiteTransation(const CSQLiteTransation&) = delete;
  CSQLiteTransation& operator=(const CSQLiteTransation&) = delete;
  virtual ~CSQLiteTransation();

  uint32_t Error() const { return error_; }

 private:
  sqlite3* db_;
  sqlite3_mutex* mutex_;
  bool joined_ = false;
  uint32_t error_ = 0;
};

}  // namespace morvex::store
