#include "store/SQLite.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <unistd.h>

#include <cerrno>

#include "core/AppError.h"
#include "platform/UniqueFd.h"

namespace morvex::store {
namespace {

// Holds the connection's mutex for one scope.
class ConnectionLock {
 public:
  explicit ConnectionLock(sqlite3* db) : mutex_(db != nullptr ? sqlite3_db_mutex(db) : nullptr) {
    if (mutex_ != nullptr) sqlite3_mutex_enter(mutex_);
  }
  ConnectionLock(const ConnectionLock&) = delete;
  ConnectionLock& operator=(const ConnectionLock&) = delete;
  ~ConnectionLock() {
    if (mutex_ != nullptr) sqlite3_mutex_leave(mutex_);
  }

 private:
  sqlite3_mutex* mutex_;
};

std::string JoinColumns(const std::vector<std::string>& columns) {
  std::string text;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i != 0) text += ", ";
    text += columns[i];
  }
  return text;
}

std::string SelectPrefix(std::string_view table, const std::vector<std::string>& columns) {
  std::string sql = "SELECT ";
  sql += JoinColumns(columns);
  sql += " FROM ";
  sql += table;
  return sql;
}

// "a=@a, b=local_clock+1": the SET list of an update.
std::string SetList(const CContentValues& values) {
  std::string text;
  for (const ContentValue& entry : values.Entries()) {
    if (!text.empty()) text += ", ";
    text += entry.column;
    if (entry.kind == kValueExpression) {
      text += "=";
      text += std::get<std::string>(entry.value);
    } else {
      text += "=@";
      text += entry.column;
    }
  }
  return text;
}

// Text and blobs are copied into the statement: a query's cursor is stepped
// after the selection that carried its arguments is gone.
int BindOne(sqlite3_stmt* statement, int index, const ContentValue& entry) {
  switch (entry.kind) {
    case kValueInt32:
      return sqlite3_bind_int(statement, index, std::get<int32_t>(entry.value));
    case kValueInt64:
      return sqlite3_bind_int64(statement, index, std::get<int64_t>(entry.value));
    case kValueUtf8: {
      const auto& text = std::get<std::string>(entry.value);
      return sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    case kValueUtf16: {
      const auto& text = std::get<std::u16string>(entry.value);
      return sqlite3_bind_text16(statement, index, text.data(), static_cast<int>(text.size() * sizeof(char16_t)),
                                 SQLITE_TRANSIENT);
    }
    case kValueBlob: {
      const auto& bytes = std::get<Blob>(entry.value);
      return sqlite3_bind_blob64(statement, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    }
    case kValueExpression:
      return SQLITE_OK;
  }
  return SQLITE_MISUSE;
}

}  // namespace

// ---- CSQLiteCursor ----

bool CSQLiteCursor::MoveToNext() {
  if (end_ || !statement_) {
    end_ = true;
    return false;
  }
  const int rc = sqlite3_step(statement_.get());
  if (rc == SQLITE_ROW) return true;
  end_ = true;
  if (rc != SQLITE_DONE) {
    failed_ = true;
    sqlite3* db = sqlite3_db_handle(statement_.get());
    LOG(ERROR) << "sqlite3_step() Error : " << sqlite3_errmsg(db) << ": SQL: " << sqlite3_sql(statement_.get());
  }
  return false;
}

int32_t CSQLiteCursor::GetInt(int column) const { return sqlite3_column_int(statement_.get(), column); }
int64_t CSQLiteCursor::GetInt64(int column) const { return sqlite3_column_int64(statement_.get(), column); }

std::string_view CSQLiteCursor::GetString(int column) const {
  const auto* text = sqlite3_column_text(statement_.get(), column);
  if (text == nullptr) return {};
  return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(statement_.get(), column))};
}

std::u16string_view CSQLiteCursor::GetWString(int column) const {
  const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(statement_.get(), column));
  if (text == nullptr) return {};
  return {text, static_cast<size_t>(sqlite3_column_bytes16(statement_.get(), column)) / sizeof(char16_t)};
}

const void* CSQLiteCursor::GetBlob(int column) const { return sqlite3_column_blob(statement_.get(), column); }
int CSQLiteCursor::GetBytes(int column) const { return sqlite3_column_bytes(statement_.get(), column); }
bool CSQLiteCursor::IsNull(int column) const {
  return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL;
}

int CSQLiteCursor::ColumnIndex(std::string_view name) const {
  if (statement_) {
    const int count = sqlite3_column_count(statement_.get());
    for (int i = 0; i < count; ++i) {
      const char* columnName = sqlite3_column_name(statement_.get(), i);
      if (columnName != nullptr && name == columnName) return i;
    }
  }
  LOG(DFATAL) << "No column '" << name << "' in the query's result";
  return -1;
}

int32_t CSQLiteCursor::GetInt(std::string_view column) const {
  const int i = ColumnIndex(column);
  return i < 0 ? 0 : GetInt(i);
}
int64_t CSQLiteCursor::GetInt64(std::string_view column) const {
  const int i = ColumnIndex(column);
  return i < 0 ? 0 : GetInt64(i);
}
std::string_view CSQLiteCursor::GetString(std::string_view column) const {
  const int i = ColumnIndex(column);
  return i < 0 ? std::string_view() : GetString(i);
}
std::u16string_view CSQLiteCursor::GetWString(std::string_view column) const {
  const int i = ColumnIndex(column);
  return i < 0 ? std::u16string_view() : GetWString(i);
}
const void* CSQLiteCursor::GetBlob(std::string_view column) const {
  const int i = ColumnIndex(column);
  return i < 0 ? nullptr : GetBlob(i);
}
int CSQLiteCursor::GetBytes(std::string_view column) const {
  const int i = ColumnIndex(column);
  return i < 0 ? 0 : GetBytes(i);
}
bool CSQLiteCursor::IsNull(std::string_view column) const {
  const int i = ColumnIndex(column);
  return i < 0 || IsNull(i);
}

// ---- CSQLite ----

bool CSQLite::Open(const std::string& path) {
  Close();
  path_ = path;
  // Create the file ourselves so that it is private from the first byte: it
  // will hold the device's private key. An existing file is not touched.
  platform::UniqueFd created(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  std::string error;
  if (!OpenWith(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error)) {
    LOG(ERROR) << "sqlite3_open() failed: " << path << ": SQL: " << error;
    return false;
  }
  return true;
}

bool CSQLite::OpenReadOnly(const std::string& path, std::string& error) {
  Close();
  path_ = path;
  return OpenWith(SQLITE_OPEN_READONLY, error);
}

bool CSQLite::OpenWith(int mode, std::string& error) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path_.c_str(), &db, mode | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (rc != SQLITE_OK) {
    error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    return false;
  }
  db_ = db;
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db_, 0);
  return true;
}

void CSQLite::Close() {
  writeStatements_.clear();
  if (db_ == nullptr) return;
  // close_v2 defers the close until the last cursor is finalised instead of
  // failing while one is still alive.
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

std::string CSQLite::ErrorMessage() const { return db_ != nullptr ? sqlite3_errmsg(db_) : "database not open"; }

StatementPtr CSQLite::Prepare(std::string_view sql) {
  if (db_ == nullptr) {
    LOG(ERROR) << "sqlite3_prepare16_v2() error : database not open: SQL: " << sql;
    return nullptr;
  }
  sqlite3_stmt* statement = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
  if (rc != SQLITE_OK || statement == nullptr) {
    if (rc != SQLITE_OK) {
      LOG(ERROR) << "sqlite3_prepare16_v2() error : " << sqlite3_errmsg(db_) << ": SQL: " << sql;
    }
    sqlite3_finalize(statement);
    return nullptr;
  }
  return StatementPtr(statement);
}

bool CSQLite::Exec(std::string_view sql) {
  ConnectionLock lock(db_);
  StatementPtr statement = Prepare(sql);
  if (!statement) {
    return false;
  }
  return StepToDone(statement.get(), sql, false);
}

bool CSQLite::StepToDone(sqlite3_stmt* statement, std::string_view sql, bool constraintWarning) {
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
  }
  if (rc == SQLITE_DONE) return true;
  if (constraintWarning && rc == SQLITE_CONSTRAINT) {
    // The caller asked for a plain insert and hears of the conflict from the
    // result (adding a folder that exists, say): not worth the terminal.
    LOG(INFO) << "abort insert due to constraint: SQL: " << sql;
  } else {
    LOG(ERROR) << "sqlite3_step() Error : " << sqlite3_errmsg(db_) << ": SQL: " << sql;
  }
  return false;
}

bool CSQLite::BindAll(sqlite3_stmt* statement, const CContentValues* values, const CSelection* selection,
                      std::string_view sql) {
  // Named value parameters come first in the statement, the selection's "?"
  // placeholders after them, so SQLite numbers them in that order.
  int index = 1;
  if (values != nullptr) {
    for (const ContentValue& entry : values->Entries()) {
      if (entry.kind == kValueExpression) continue;
      const std::string name = "@" + entry.column;
      int named = sqlite3_bind_parameter_index(statement, name.c_str());
      if (named == 0) named = index;
      if (BindOne(statement, named, entry) != SQLITE_OK) {
        LOG(ERROR) << "sqlite3_bind() Error : " << sqlite3_errmsg(db_) << ": SQL: " << sql;
        return false;
      }
      index = named + 1;
    }
  }
  if (selection != nullptr) {
    for (const ContentValue& argument : selection->Arguments()) {
      if (BindOne(statement, index++, argument) != SQLITE_OK) {
        LOG(ERROR) << "sqlite3_bind() Error : " << sqlite3_errmsg(db_) << ": SQL: " << sql;
        return false;
      }
    }
  }
  return true;
}

bool CSQLite::RunWrite(const std::string& sql, const CContentValues* values, const CSelection* selection,
                       bool constraintWarning) {
  auto cached = writeStatements_.find(sql);
  if (cached == writeStatements_.end()) {
    StatementPtr prepared = Prepare(sql);
    if (!prepared) {
      return false;
    }
    cached = writeStatements_.emplace(sql, std::move(prepared)).first;
  }
  sqlite3_stmt* statement = cached->second.get();
  const bool ok = BindAll(statement, values, selection, sql) && StepToDone(statement, sql, constraintWarning);
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  return ok;
}

std::unique_ptr<CSQLiteCursor> CSQLite::Query(std::string_view table, const std::vector<std::string>& columns,
                                              std::string_view where) {
  std::string sql = SelectPrefix(table, columns);
  if (!where.empty()) {
    sql += " WHERE ";
    sql += where;
  }
  sql += " ";
  ConnectionLock lock(db_);
  StatementPtr statement = Prepare(sql);
  if (!statement) return nullptr;
  return std::make_unique<CSQLiteCursor>(std::move(statement));
}

std::unique_ptr<CSQLiteCursor> CSQLite::Query(std::string_view table, const std::vector<std::string>& columns,
                                              const CSelection& selection, std::string_view order) {
  std::string sql = SelectPrefix(table, columns);
  if (!selection.Clause().empty()) {
    sql += " WHERE ";
    sql += selection.Clause();
  }
  if (!order.empty()) {
    sql += " ORDER BY ";
    sql += order;
  }
  sql += " ";
  ConnectionLock lock(db_);
  StatementPtr statement = Prepare(sql);
  if (!statement || !BindAll(statement.get(), nullptr, &selection, sql)) {
    return nullptr;
  }
  return std::make_unique<CSQLiteCursor>(std::move(statement));
}

int64_t CSQLite::Insert(std::string_view table, const CContentValues& values, int conflict) {
  static constexpr const char* kVerbs[] = {"INSERT INTO ", "INSERT OR IGNORE INTO ", "INSERT OR REPLACE INTO "};
  if (conflict < kConflictNone || conflict > kConflictReplace) return -1;
  std::string names;
  std::string parameters;
  for (const ContentValue& entry : values.Entries()) {
    if (!names.empty()) {
      names += ", ";
      parameters += ", ";
    }
    names += entry.column;
    parameters += entry.kind == kValueExpression ? std::get<std::string>(entry.value) : "@" + entry.column;
  }
  std::string sql = kVerbs[conflict];
  sql += table;
  sql += " (" + names + ") VALUES (" + parameters + ");";

  ConnectionLock lock(db_);
  if (!RunWrite(sql, &values, nullptr, conflict == kConflictNone)) return -1;
  // An insert that a conflict clause turned into nothing inserted no row;
  // the connection's last row id would belong to an earlier insert.
  if (sqlite3_changes(db_) == 0) return 0;
  return sqlite3_last_insert_rowid(db_);
}

int64_t CSQLite::Update(std::string_view table, const CContentValues& values, std::string_view where) {
  return Update(table, values, CSelection::FromClause(std::string(where)));
}

int64_t CSQLite::Update(std::string_view table, const CContentValues& values, const CSelection& selection) {
  std::string sql = "UPDATE ";
  sql += table;
  sql += " SET ";
  sql += SetList(values);
  if (!selection.Clause().empty()) {
    sql += " WHERE ";
    sql += selection.Clause();
  }
  sql += ";";
  ConnectionLock lock(db_);
  return RunWrite(sql, &values, &selection, false) ? sqlite3_changes(db_) : -1;
}

int64_t CSQLite::Delete(std::string_view table, std::string_view where) {
  return Delete(table, CSelection::FromClause(std::string(where)));
}

int64_t CSQLite::Delete(std::string_view table, const CSelection& selection) {
  std::string sql = "DELETE FROM ";
  sql += table;
  if (!selection.Clause().empty()) {
    sql += " WHERE ";
    sql += selection.Clause();
  }
  sql += ";";
  ConnectionLock lock(db_);
  return RunWrite(sql, nullptr, &selection, false) ? sqlite3_changes(db_) : -1;
}

// ---- CSQLiteTransation ----

CSQLiteTransation::CSQLiteTransation(CSQLite& db)
    : db_(db.Handle()), mutex_(db_ != nullptr ? sqlite3_db_mutex(db_) : nullptr) {
  if (db_ == nullptr) {
    error_ = core::kErrorDatabase;
    return;
  }
  sqlite3_mutex_enter(mutex_);
  if (sqlite3_get_autocommit(db_) == 0) {
    joined_ = true;
    return;
  }
  char* message = nullptr;
  if (sqlite3_exec(db_, "BEGIN TRANSACTION;", nullptr, nullptr, &message) != SQLITE_OK) {
    LOG(ERROR) << "DB Error :" << (message != nullptr ? message : "") << ". SQL: BEGIN TRANSACTION;";
    error_ = core::kErrorDatabase;
  }
  sqlite3_free(message);
}

CSQLiteTransation::~CSQLiteTransation() {
  if (db_ == nullptr) return;
  if (!joined_) {
    const char* end = error_ == 0 ? "COMMIT;" : "ROLLBACK;";
    char* message = nullptr;
    if (sqlite3_exec(db_, end, nullptr, nullptr, &message) != SQLITE_OK) {
      LOG(ERROR) << "DB Error :" << (message != nullptr ? message : "") << ". SQL: " << end;
      sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
      error_ = core::kErrorDatabase;
    }
    sqlite3_free(message);
  }
  sqlite3_mutex_leave(mutex_);
}

}  // namespace morvex::store
