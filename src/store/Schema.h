#pragma once

#include <string>

namespace morvex::store {

class CSQLite;

inline constexpr int kSchemaVersion = 2;
inline constexpr const char* kDatabaseFileName = "Morvex.db";

// Registers the "UTF16" (code point order) and "UTF16CI" (case-folded)
// collations on the connection; failures are logged and not fatal.
void RegisterCollations(CSQLite& db);

// Opens "<appDir>/Morvex.db" (creating it), registers the collations and
// brings the schema to the current version: a new file gets the full schema,
// a version-1 file gets the Event table and keeps its data, a file without a
// version row or with a version below 1 is reset, a current file is used as
// it is. A file that exists but cannot be read as a database
// fails with ERROR "database init fail: <path>: <reason>" in `error` and is
// left exactly as it was.
bool OpenDatabase(CSQLite& db, const std::string& appDir, std::string& error);

// Opens "<appDir>/Morvex.db" as it is, for reading only: nothing is created
// or migrated (the service owns the file). False with the reason in `error`
// when the file is missing or is not a readable database.
bool OpenDatabaseReadOnly(CSQLite& db, const std::string& appDir, std::string& error);

// The statement batches, exposed for the tests.
void RunCreationBatch(CSQLite& db);
void RunResetBatch(CSQLite& db);

}  // namespace morvex::store
