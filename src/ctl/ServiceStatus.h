#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ctl/CtlClient.h"

namespace morvex::ctl {

// Values of the status answer's problem kind.
enum class LastPassProblem : int32_t { kNone = 0, kPeerUnreachable = 1, kRefused = 2, kItemsFailed = 3 };

struct FailedPath {
  std::string path;
  std::string reason;
};

// What the local service is doing, from its status answer and the
// relation ids of its database.
struct RelationState {
  int64_t id = 0;
  std::string localTreeUuid;
  std::string localRoot;
  std::string remoteTreeUuid;
  bool running = false;
  bool queued = false;
  int64_t pendingFiles = 0;
  int64_t pendingBytes = 0;
  int64_t lastPassEnd = 0;  // ms since 1970, 0 when none
  bool lastPassOk = false;
  std::string peerName;
  int64_t workBytes = 0;  // of the work pending now; 0 when unknown
  int64_t workStart = 0;  // ms since 1970
  int64_t now = 0;        // ms since 1970, when the answer was read
  // Why the last pass was incomplete (kNone when it was not, or unknown).
  LastPassProblem problem = LastPassProblem::kNone;
  int32_t peerError = 0;  // the peer's code for kRefused
  std::vector<FailedPath> failedItems;  // the first few
  int32_t failedCount = 0;            // all of them
};

struct TreeState {
  std::string treeUuid;
  std::string root;      // empty when the tree is gone meanwhile
  int64_t indexing = 0;  // items outstanding
};

struct ServiceState {
  std::vector<RelationState> relations;
  std::vector<TreeState> trees;  // only trees with indexing outstanding
};

// Asks the service (MC_LINUX_STATUS_REQUEST); on failure the answer says why.
std::optional<ServiceState> ReadServiceState(CtlClient& client, const std::string& metadir, CtlAnswer& failure);

// Nothing running, queued, pending or being indexed; with `treeUuids`, only
// those trees and their relations count.
bool Idle(const ServiceState& state, const std::vector<std::string>& treeUuids);

// What 'wait' makes of a state: still busy, or done with this exit status
// (kExitOk when every relation concerned applied everything; a peer that
// did not answer before items that failed).
std::optional<int> WaitVerdict(const ServiceState& state, const std::vector<std::string>& treeUuids);
// The reason of an incomplete last pass, in the user's words.
std::string ProblemText(const RelationState& relation);

void PrintStatusJson(const ServiceState& state, std::ostream& out);
void PrintStatusText(const ServiceState& state, std::ostream& out);

// The main window's texts: speed in bytes per second, time in seconds.
std::string SpeedText(double bytesPerSecond);
std::string TimeText(uint64_t seconds);
// One progress line: files and bytes left at `bytesPerSecond`.
std::string ProgressLine(int64_t files, int64_t bytes, double bytesPerSecond);

}  // namespace morvex::ctl
