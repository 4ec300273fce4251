#pragma once

#include <any>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/BroadcastService.h"

namespace morvex::core {

// Why a pass ended incomplete, as far as the pass could tell.
enum class PassProblem : int32_t {
  kNone = 0,
  kPeerUnreachable = 1,  // no answer from the peer
  kRefused = 2,          // the peer answered with an error code
  kItemsFailed = 3,      // listed and fetched, but some items could not be applied
};

struct FailedItem {
  std::string path;
  std::string reason;
};

// What a pass found wrong: its problem, the peer's code for a refusal, and
// the items that failed; only the first kMaxListed are kept (a full disk
// would otherwise list the whole tree), itemCount counts them all.
struct PassReport {
  static constexpr size_t kMaxListed = 20;
  PassProblem problem = PassProblem::kNone;
  int32_t peerError = 0;
  std::vector<FailedItem> items;
  int32_t itemCount = 0;

  void AddItem(std::string path, std::string reason);
};

// What one relation is doing, as the command-line client's status shows it.
struct RelationStatus {
  bool running = false;
  bool queued = false;
  int64_t pendingFiles = 0;
  int64_t pendingBytes = 0;
  int64_t lastPassEnd = 0;  // milliseconds since 1970; 0 before the first pass
  bool lastPassOk = false;
  // The work pending since nothing was: its bytes and when it began (ms
  // since 1970), for a percentage and a rate.
  int64_t workBytes = 0;
  int64_t workStart = 0;
  PassReport lastPass;  // why the last pass was incomplete
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
// Threads: fed from the broadcasting threads (receivers without handler),
// from the sync router and from the sync workers; read by request workers. One mutex guards it.
class CStatusBoard final : public CBroadcastReceiver {
 public:
  static CStatusBoard& Instance();

  // Starts and stops following the progress broadcasts.
  void Attach();
  void Detach();

  void SetSchedule(int32_t syncId, bool running, bool queued);
  void PassEnded(int32_t syncId, bool ok, int64_t endMs);
  // Set by the worker that ran the pass, just before the router's PassEnded.
  void SetPassReport(int32_t syncId, PassReport report);

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
