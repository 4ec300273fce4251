#include "store/Schema.h"

#include <glog/logging.h>
#include <sys/stat.h>

#include "platform/PathCollation.h"
#include "store/SQLite.h"

namespace morvex::store {
namespace {

// The history of what the service told its interfaces (version 2). Kept
// apart so that the step from version 1 can add it to a database in use.
constexpr const char* kEventTable =
    "CREATE TABLE IF NOT EXISTS Event (id INTEGER PRIMARY KEY AUTOINCREMENT,time INT64,kind INTEGER,device_uuid "
    "VARCHAR(40),text TEXT);";

constexpr const char* kCreationBatch[] = {
    "PRAGMA foreign_keys = ON;",
    "CREATE TABLE IF NOT EXISTS Device (id INTEGER PRIMARY KEY AUTOINCREMENT,uuid VARCHAR(40) UNIQUE,name "
    "VARCHAR(32),type INTEGER,class INTEGER,online INTEGER,route_uri VARCHAR(255),pub_uri VARCHAR(255),trust "
    "INTEGER,pubkey TEXT);",
    "CREATE TABLE IF NOT EXISTS DeviceTTL (id INTEGER PRIMARY KEY REFERENCES Device(id) ON DELETE CASCADE, ttl "
    "INTEGER);",
    "CREATE TABLE IF NOT EXISTS Tree (id INTEGER PRIMARY KEY AUTOINCREMENT,device_uuid VARCHAR(40),tree_uuid "
    "VARCHAR(40) UNIQUE,tree_root VARCHAR(255) UNIQUE  COLLATE NOCASE,sync_uuid VARCHAR(40));",
    "CREATE TABLE IF NOT EXISTS Sync (id INTEGER PRIMARY KEY AUTOINCREMENT,tree_id INTEGER,clock "
    "INTEGER,peer_device_uuid VARCHAR(40),peer_tree_uuid VARCHAR(40),peer_tree_root VARCHAR(255),peer_clock "
    "INTEGER,status INTEGER,creator INTEGER,ctime INT64,last_sync INT64,UNIQUE(tree_id, peer_tree_uuid));",
    "CREATE TABLE IF NOT EXISTS File (id INTEGER PRIMARY KEY AUTOINCREMENT,type INTEGER,status INTEGER,mtime "
    "INT64,length INT64,usn INT64,sha1 VARCHAR(40),modifier INTEGER,path VARCHAR(255),win_attr INTEGER, "
    "unix_attr INTEGER, andr_attr INTEGER, tree_id INTEGER, local_clock INTEGER,other_clock BLOB,UNIQUE(tree_id, "
    "path));",
    "CREATE TABLE IF NOT EXISTS VCUuid (tree_id INTEGER,clock_uuid VARCHAR(40) ,clock_index "
    "INTEGER,UNIQUE(tree_id, clock_uuid));",
    "CREATE TABLE IF NOT EXISTS Config (name VARCHAR(255) PRIMARY KEY,value VARCHAR(255));",
    "CREATE TABLE IF NOT EXISTS Usn (device_uuid VARCHAR(40) PRIMARY KEY,next_usn INT64);",
    kEventTable,
    "CREATE VIEW IF NOT EXISTS SyncDir AS  SELECT Sync.id AS id, tree_uuid, tree_root,  sync_uuid, tree_id, "
    "clock, peer_device_uuid, peer_tree_uuid, peer_tree_root,  peer_clock, status, creator, ctime, last_sync "
    "FROM Tree, Sync  WHERE Sync.tree_id = Tree.id ",
    "CREATE INDEX IF NOT EXISTS PathIndex ON File(path DESC);",
    "CREATE TRIGGER IF NOT EXISTS DevTTLInsert AFTER INSERT ON Device BEGIN INSERT INTO DeviceTTL (id, ttl) "
    "VALUES (new.id, 3); END;",
    "CREATE TRIGGER IF NOT EXISTS TreeDelete AFTER DELETE ON Tree BEGIN DELETE FROM File WHERE tree_id = old.id; "
    "END;",
};

constexpr const char* kResetBatch[] = {
    "DROP INDEX IF EXISTS PathIndex",  "DROP VIEW  IF EXISTS SyncDir", "DROP TABLE IF EXISTS File",
    "DROP TABLE IF EXISTS Sync",       "DROP TABLE IF EXISTS Device",  "DROP TABLE IF EXISTS Config",
    "DROP TABLE IF EXISTS Tree",
};

constexpr const char* kVersionTable = "CREATE TABLE IF NOT EXISTS Version(version int);";

int CollateExact(void*, int aLength, const void* a, int bLength, const void* b) {
  return platform::CompareExact({static_cast<const char*>(a), static_cast<size_t>(aLength)},
                                {static_cast<const char*>(b), static_cast<size_t>(bLength)});
}

int CollateFolded(void*, int aLength, const void* a, int bLength, const void* b) {
  return platform::CompareFolded({static_cast<const char*>(a), static_cast<size_t>(aLength)},
                                 {static_cast<const char*>(b), static_cast<size_t>(bLength)});
}

// Each statement runs by itself; a failing one is logged and the batch goes
// on, so that one odd leftover object never blocks the rest of the schema.
template <size_t N>
void RunBatch(CSQLite& db, const char* const (&statements)[N]) {
  for (const char* sql : statements) db.Exec(sql);
}

// Reading the schema catalogue is the cheapest query that fails on a file
// that is not a database, is encrypted or is unreadable.
bool Readable(CSQLite& db, std::string& reason) {
  StatementPtr statement = db.Prepare("SELECT count(*) FROM sqlite_master");
  if (!statement) {
    reason = db.ErrorMessage();
    return false;
  }
  if (sqlite3_step(statement.get()) != SQLITE_ROW) {
    reason = db.ErrorMessage();
    return false;
  }
  return true;
}

}  // namespace

void RunCreationBatch(CSQLite& db) { RunBatch(db, kCreationBatch); }
void RunResetBatch(CSQLite& db) { RunBatch(db, kResetBatch); }

void RegisterCollations(CSQLite& db) {
  if (sqlite3_create_collation_v2(db.Handle(), "UTF16", SQLITE_UTF8, nullptr, CollateExact, nullptr) !=
      SQLITE_OK) {
    LOG(ERROR) << "Faied to Create UTF16 collation";
  }
  if (sqlite3_create_collation_v2(db.Handle(), "UTF16CI", SQLITE_UTF8, nullptr, CollateFolded, nullptr) !=
      SQLITE_OK) {
    LOG(ERROR) << "Faied to Create UTF16CI collation";
  }
}

bool OpenDatabaseReadOnly(CSQLite& db, const std::string& appDir, std::string& error) {
  const std::string path = appDir + "/" + kDatabaseFileName;
  if (!db.OpenReadOnly(path, error)) return false;
  if (!Readable(db, error)) {
    db.Close();
    return false;
  }
  RegisterCollations(db);
  return true;
}

bool OpenDatabase(CSQLite& db, const std::string& appDir, std::string& error) {
  const std::string path = appDir + "/" + kDatabaseFileName;
  struct stat info {};
  const bool existed = ::lstat(path.c_str(), &info) == 0;
  if (existed && !S_ISREG(info.st_mode)) {
    error = "database init fail: " + path + ": not a regular file";
    LOG(ERROR) << error;
    return false;
  }
  std::string reason;
  if (!db.Open(path)) {
    error = "database init fail: " + path + ": " + db.ErrorMessage();
    LOG(ERROR) << error;
    return false;
  }
  if (!Readable(db, reason)) {
    error = "database init fail: " + path + ": " + reason;
    LOG(ERROR) << error;
    db.Close();
    return false;
  }
  RegisterCollations(db);

  // Readers never block the writer and a crashed process loses no
  // committed transaction; NORMAL syncs at checkpoints instead of at every
  // commit (see docs/architecture.md for the measurements).
  db.Exec("PRAGMA journal_mode=WAL;");
  db.Exec("PRAGMA synchronous=NORMAL;");

  if (!db.Exec(kVersionTable)) {
    error = "database init fail: " + path + ": " + db.ErrorMessage();
    LOG(ERROR) << error;
    db.Close();
    return false;
  }
  if (!existed || info.st_size == 0) {
    RunCreationBatch(db);
    db.Exec("INSERT INTO Version (version) VALUES (2);");
    return true;
  }
  StatementPtr statement = db.Prepare("SELECT version FROM Version");
  const int rc = statement ? sqlite3_step(statement.get()) : SQLITE_ERROR;
  if (rc == SQLITE_ROW) {
    const int version = sqlite3_column_int(statement.get(), 0);
    statement.reset();
    if (version >= kSchemaVersion) return true;
    if (version == 1) {
      // Version 2 only added the event history: the user's links, devices
      // and settings stay as they are.
      // A failed step leaves version 1, so that the next start tries again;
      // everything but the history works meanwhile.
      if (db.Exec(kEventTable)) {
        db.Exec("UPDATE Version SET version = 2;");
      } else {
        LOG(ERROR) << "database upgrade to version 2 failed: " << db.ErrorMessage();
      }
      return true;
    }
    RunResetBatch(db);
    RunCreationBatch(db);
    db.Exec("UPDATE Version SET version = 2;");
    return true;
  }
  statement.reset();
  if (rc != SQLITE_DONE) {
    error = "database init fail: " + path + ": " + db.ErrorMessage();
    LOG(ERROR) << error;
    db.Close();
    return false;
  }
  RunResetBatch(db);
  RunCreationBatch(db);
  db.Exec("INSERT INTO Version (version) VALUES (2);");
  return true;
}

}  // namespace morvex::store
