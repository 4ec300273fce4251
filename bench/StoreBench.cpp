// Batch writes of File rows in the store's journal modes: the journal mode
// and sync level decide what a commit costs. Run: build/bin/store_bench
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "store/Operations.h"
#include "store/SQLite.h"
#include "store/Schema.h"

namespace {

using morvex::store::CContentValues;
using morvex::store::CSQLite;
using morvex::store::CSQLiteTransation;

// args: journal mode (0 DELETE/FULL, 1 WAL/NORMAL, 2 WAL/FULL), rows per batch
void BM_FileBatch(benchmark::State& state) {
  char pattern[] = "/tmp/morvex-bench-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  CSQLite db;
  db.Open(dir + "/Morvex.db");
  static const char* kModes[][2] = {{"PRAGMA journal_mode=DELETE;", "PRAGMA synchronous=FULL;"},
                                    {"PRAGMA journal_mode=WAL;", "PRAGMA synchronous=NORMAL;"},
                                    {"PRAGMA journal_mode=WAL;", "PRAGMA synchronous=FULL;"}};
  db.Exec(kModes[state.range(0)][0]);
  db.Exec(kModes[state.range(0)][1]);
  morvex::store::RunCreationBatch(db);
  int64_t next = 0;
  for (auto _ : state) {
    CSQLiteTransation transaction(db);
    for (int64_t i = 0; i < state.range(1); ++i, ++next) {
      CContentValues values;
      values.PutInt("tree_id", 1).PutString("path", "/dir/file-" + std::to_string(next)).PutInt64("usn", next)
          .PutInt64("mtime", next).PutInt64("length", 1024).PutString("sha1", std::string(40, 'a'));
      db.Insert("File", values, morvex::store::kConflictReplace);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(1));
  db.Close();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FileBatch)->ArgsProduct({{0, 1, 2}, {1, 500}})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
