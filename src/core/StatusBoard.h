#pragma once

#include <any>
#include <cstdint>
#include <map>
#include <mutex>

#include "core/BroadcastService.h"

namespace morvex::core {

// What one relation is doing, as the command-line client's status shows it.
struct RelationStatus {
  bool running = false;
  bool queued = false;
  int64_t pendingFiles = 0;
  int64_t pendingBytes = 0;
  int64_t lastPassEnd = 0;  // milliseconds since 1970; 0 before the first pass
  bool lastPassOk = false;
};

// The service's running totals of its work: pending files and bytes per
// relation from the passes' progress broadcasts (the same events the main
// window counts), indexing items outstanding per tree, and the scheduler's
// state of each relation and how its last pass ended.
//
// Display only: what the status requests show. Its writers (the broadcasts,
// the sync router) keep their own state and decide from that; nothing reads
// the board back to decide anything.
//
// Threads: fed from the broadcasting threads (receivers without handler)
// and from the sync router; read by request workers. One mutex guards it.
class CStatusBoard final : public CBroadcastReceiver {
 public:
  static CStatusBoard& Instance();

  // Starts and stops following the progress broadcasts.
  void Attach();
  void Detach();

  void SetSchedule(int32_t syncId, bool running, bool queued);
  void PassEnded(int32_t syncId, bool ok, int64_t endMs);

  std::map<int32_t, RelationStatus> Relations();
  std::map<int32_t, int64_t> Indexing();  // tree id -> items outstanding
  void Clear();

  bool OnReceive(int code, const std::any& parameter) override;

 private:
  std::mutex mutex_;
  std::map<int32_t, RelationStatus> relations_;  // guarded by mutex_
  std::map<int32_t, int64_t> indexing_;          // guarded by mutex_
};

}  // namespace morvex::core
