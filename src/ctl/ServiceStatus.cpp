#include "ctl/ServiceStatus.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "Morvex.pb.h"
#include "core/StringPrintf.h"
#include "core/Text.h"
#include "ctl/ErrorSentences.h"
#include "ctl/Json.h"
#include "ctl/TerminalText.h"
#include "index/Tree.h"
#include "peer/Relations.h"

namespace morvex::ctl {
namespace {

// Bits of SyncInfo.total_count in the service's status answer.
constexpr int64_t kRunning = 1;
constexpr int64_t kQueued = 2;
constexpr int64_t kLastPassOk = 4;

// One decimal and a unit, as "%.1lf" + unit.
std::string WithUnit(double value, const char* unit) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1lf", value);
  return std::string(text) + unit;
}

bool Counts(const std::vector<std::string>& treeUuids, const std::string& tree) {
  return treeUuids.empty() || std::find(treeUuids.begin(), treeUuids.end(), tree) != treeUuids.end();
}

void TakeProblem(const qo::PassProblemInfo& info, RelationState& relation) {
  if (info.kind() < 1 || info.kind() > 3) return;  // a kind this client does not know
  relation.problem = static_cast<LastPassProblem>(info.kind());
  relation.peerError = info.peer_error();
  for (const qo::FailedItemInfo& item : info.items()) relation.failedItems.push_back({item.path(), item.reason()});
  relation.failedCount = std::max<int32_t>(info.item_count(), static_cast<int32_t>(relation.failedItems.size()));
}

const char* ProblemKey(LastPassProblem problem) {
  switch (problem) {
    case LastPassProblem::kPeerUnreachable:
      return "peer-unreachable";
    case LastPassProblem::kRefused:
      return "refused";
    case LastPassProblem::kItemsFailed:
      return "items-failed";
    case LastPassProblem::kNone:
      break;
  }
  return nullptr;
}

std::string StateText(const RelationState& r) {
  if (r.running) return r.queued ? core::Tr("running, queued") : core::Tr("running");
  return r.queued ? core::Tr("queued") : core::Tr("idle");
}

std::string LocalTime(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm parts{};
  char text[32];
  if (::localtime_r(&seconds, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts) == 0) {
    return std::to_string(ms);
  }
  return text;
}

std::string LastPassText(const RelationState& r) {
  if (r.lastPassEnd == 0) return core::Tr("no pass yet");
  return LocalTime(r.lastPassEnd) + " " + (r.lastPassOk ? core::Tr("complete") : core::Tr("incomplete"));
}

// Files and bytes pending, and while work runs its share done, rate and
// time left in the progress line's words.
std::string PendingText(const RelationState& r) {
  if (r.pendingFiles <= 0 && r.pendingBytes <= 0) return core::Tr("nothing pending");
  const int64_t done = r.workBytes - r.pendingBytes;
  const double seconds = static_cast<double>(r.now - r.workStart) / 1000.0;
  const double rate = r.workBytes > 0 && done > 0 && seconds > 0 ? static_cast<double>(done) / seconds : 0;
  std::string text = ProgressLine(r.pendingFiles, r.pendingBytes, rate) + ", " +
                     core::StringPrintf(core::Tr("%lld bytes"), static_cast<long long>(r.pendingBytes));
  if (r.workBytes > 0 && done >= 0) {
    text += core::StringPrintf(core::Tr(", %d%% done"),
                               static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(r.workBytes)));
  }
  return text;
}

}  // namespace

std::optional<ServiceState> ReadServiceState(CtlClient& client, const std::string& metadir, CtlAnswer& failure) {
  failure = client.Request(qo::MC_LINUX_STATUS_REQUEST, nullptr);
  qo::MsgStatusResponse response;
  if (failure.status != kExitOk) return std::nullopt;
  if (!response.ParseFromString(failure.body)) {
    failure.status = kExitServiceError;
    failure.message = core::Tr("unreadable status answer");
    return std::nullopt;
  }
  std::string error;
  if (!OpenLocalDatabase(metadir, error)) {
    failure.status = kExitServiceError;
    failure.message = error;
    return std::nullopt;
  }
  const std::optional<std::vector<peer::Relation>> rows = peer::FindRelations();
  if (!rows) {
    failure.status = kExitServiceError;
    failure.message = LocalDatabaseUnreadable(metadir);
    return std::nullopt;
  }
  ServiceState state;
  for (const qo::SyncInfo& info : response.syncs()) {
    if (info.remote_device_uuid().empty()) {
      state.trees.push_back(
          {info.local_tree_uuid(), index::LocalTree::ByUuid(info.local_tree_uuid()).Root(), info.dirty_count()});
      continue;
    }
    RelationState relation;
    relation.localTreeUuid = info.local_tree_uuid();
    relation.remoteTreeUuid = info.remote_tree_uuid();
    for (const peer::Relation& row : *rows) {
      if (row.treeUuid == relation.localTreeUuid && row.peerTreeUuid == relation.remoteTreeUuid) {
        relation.id = row.id;
        relation.localRoot = row.treeRoot;
      }
    }
    relation.running = (info.total_count() & kRunning) != 0;
    relation.queued = (info.total_count() & kQueued) != 0;
    relation.lastPassOk = (info.total_count() & kLastPassOk) != 0;
    relation.pendingFiles = info.dirty_count();
    relation.pendingBytes = info.dirty_size();
    relation.lastPassEnd = info.last_sync();
    relation.peerName = info.remote_device_name();
    relation.now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    for (const qo::WorkProgressInfo& progress : response.progress()) {
      if (progress.local_tree_uuid() == relation.localTreeUuid &&
          progress.remote_tree_uuid() == relation.remoteTreeUuid) {
        relation.workBytes = progress.total_bytes();
        relation.workStart = progress.started();
      }
    }
    for (const qo::PassProblemInfo& problem : response.problems()) {
      if (problem.local_tree_uuid() == relation.localTreeUuid &&
          problem.remote_tree_uuid() == relation.remoteTreeUuid) {
        TakeProblem(problem, relation);
      }
    }
    state.relations.push_back(std::move(relation));
  }
  return state;
}

bool Idle(const ServiceState& state, const std::vector<std::string>& treeUuids) {
  for (const RelationState& r : state.relations) {
    if (!Counts(treeUuids, r.localTreeUuid)) continue;
    if (r.running || r.queued || r.pendingFiles > 0 || r.pendingBytes > 0) return false;
  }
  for (const TreeState& t : state.trees) {
    if (Counts(treeUuids, t.treeUuid) && t.indexing > 0) return false;
  }
  return true;
}

std::optional<int> WaitVerdict(const ServiceState& state, const std::vector<std::string>& treeUuids) {
  if (!Idle(state, treeUuids)) return std::nullopt;
  int verdict = kExitOk;
  for (const RelationState& r : state.relations) {
    if (!Counts(treeUuids, r.localTreeUuid) || r.lastPassEnd == 0 || r.lastPassOk) continue;
    if (r.problem == LastPassProblem::kPeerUnreachable || r.problem == LastPassProblem::kRefused) {
      return r.problem == LastPassProblem::kRefused ? kExitServiceError : kExitPeerUnreachable;
    }
    verdict = kExitItemsFailed;
  }
  return verdict;
}

std::string ProblemText(const RelationState& r) {
  const std::string peer = r.peerName.empty() ? core::Tr("the other device") : r.peerName;
  switch (r.problem) {
    case LastPassProblem::kPeerUnreachable:
      return PeerUnreachable(peer);
    case LastPassProblem::kRefused: {
      SentenceNames names;
      names.peer = peer;
      return core::StringPrintf(core::Tr("refused by %s: %s"), peer.c_str(), ErrorSentence(r.peerError, names).c_str());
    }
    case LastPassProblem::kItemsFailed:
      return core::StringPrintf(core::TrN("%d item could not be applied", "%d items could not be applied",
                                          static_cast<unsigned long>(r.failedCount)),
                                static_cast<int>(r.failedCount));
    case LastPassProblem::kNone:
      break;
  }
  return {};
}

void PrintStatusJson(const ServiceState& state, std::ostream& out) {
  out << "{\"relations\": [";
  for (size_t i = 0; i < state.relations.size(); ++i) {
    const RelationState& r = state.relations[i];
    out << (i == 0 ? "" : ", ") << "{\"id\": " << r.id << ", \"running\": " << JsonBool(r.running)
        << ", \"queued\": " << JsonBool(r.queued) << ", \"pending_files\": " << r.pendingFiles
        << ", \"pending_bytes\": " << r.pendingBytes << ", \"last_pass_end\": " << r.lastPassEnd
        << ", \"last_pass_ok\": " << JsonBool(r.lastPassOk) << ", \"local_path\": " << JsonString(r.localRoot)
        << ", \"peer_name\": " << JsonString(r.peerName) << ", \"reason\": ";
    const char* key = ProblemKey(r.problem);
    out << (key == nullptr ? std::string("null") : JsonString(key));
    if (r.problem == LastPassProblem::kRefused) out << ", \"peer_error\": " << r.peerError;
    out << ", \"failed_count\": " << r.failedCount << ", \"failed_items\": [";
    for (size_t j = 0; j < r.failedItems.size(); ++j) {
      out << (j == 0 ? "" : ", ") << "{\"path\": " << JsonString(r.failedItems[j].path)
          << ", \"reason\": " << JsonString(r.failedItems[j].reason) << "}";
    }
    out << "]}";
  }
  out << "], \"trees\": [";
  for (size_t i = 0; i < state.trees.size(); ++i) {
    out << (i == 0 ? "" : ", ") << "{\"tree_uuid\": " << JsonString(state.trees[i].treeUuid)
        << ", \"root\": " << JsonString(state.trees[i].root)
        << ", \"indexing\": " << state.trees[i].indexing << "}";
  }
  out << "]}\n";
}

void PrintStatusText(const ServiceState& state, std::ostream& out) {
  if (Idle(state, {})) out << core::Tr("no task is running") << "\n";
  for (const TreeState& t : state.trees) {
    const std::string where = TerminalText(t.root.empty() ? t.treeUuid : t.root);
    out << core::StringPrintf(core::Tr("indexing %lld items in %s"), static_cast<long long>(t.indexing),
                              where.c_str())
        << "\n";
  }
  if (state.relations.empty()) return;
  // One line per link under a header, then why an incomplete pass was
  // incomplete and the items it could not apply, indented under it.
  out << core::Tr("FOLDER") << "\t" << core::Tr("PEER") << "\t" << core::Tr("STATE") << "\t" << core::Tr("PENDING")
      << "\t" << core::Tr("LAST PASS") << "\n";
  for (const RelationState& r : state.relations) {
    out << TerminalText(r.localRoot) << "\t" << TerminalText(r.peerName.empty() ? r.remoteTreeUuid : r.peerName)
        << "\t" << StateText(r) << "\t" << PendingText(r) << "\t" << LastPassText(r) << "\n";
    if (r.lastPassEnd == 0 || r.lastPassOk || r.problem == LastPassProblem::kNone) continue;
    out << "  " << TerminalText(ProblemText(r)) << "\n";
    for (const FailedPath& item : r.failedItems) {
      out << "    " << TerminalText(item.path) << ": " << TerminalText(item.reason) << "\n";
    }
    const int32_t unlisted = r.failedCount - static_cast<int32_t>(r.failedItems.size());
    if (unlisted > 0) {
      out << "    "
          << core::StringPrintf(core::TrN("and %d more", "and %d more", static_cast<unsigned long>(unlisted)),
                                static_cast<int>(unlisted))
          << "\n";
    }
  }
}

std::string SpeedText(double speed) {
  if (speed < 1024) return WithUnit(speed, core::Tr("B/s"));
  speed /= 1024;
  if (speed < 1024) return WithUnit(speed, core::Tr("KB/s"));
  speed /= 1024;
  if (speed < 1024) return WithUnit(speed, core::Tr("MB/s"));
  speed /= 1024;
  if (speed < 1024) return WithUnit(speed, core::Tr("GB/s"));
  return WithUnit(speed / 1024, core::Tr("TB/s"));
}

std::string TimeText(uint64_t seconds) {
  char text[64];
  if (seconds < 60) {
    std::snprintf(text, sizeof text, core::Tr("%ds"), static_cast<int>(seconds));
  } else if (seconds < 3600) {
    std::snprintf(text, sizeof text, core::Tr("%dm %ds"), static_cast<int>(seconds / 60),
                  static_cast<int>(seconds % 60));
  } else if (seconds < 86400) {
    std::snprintf(text, sizeof text, core::Tr("%dh %dm"), static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds % 3600 / 60));
  } else if (seconds < 3 * 86400) {
    std::snprintf(text, sizeof text, core::Tr("%dd %dh"), static_cast<int>(seconds / 86400),
                  static_cast<int>(seconds % 86400 / 3600));
  } else {
    return core::Tr("a while, please be patient");
  }
  return text;
}

std::string ProgressLine(int64_t files, int64_t bytes, double bytesPerSecond) {
  char text[160];
  const uint64_t left = bytesPerSecond > 0 ? static_cast<uint64_t>(static_cast<double>(bytes) / bytesPerSecond) : 0;
  if (files <= 0) return core::Tr("no task is running");
  const auto count = static_cast<unsigned long>(files);
  if (left != 0 && bytesPerSecond > 0) {
    std::snprintf(text, sizeof text, core::TrN("syncing %d file, %s, %s left", "syncing %d files, %s, %s left", count),
                  static_cast<int>(files), SpeedText(bytesPerSecond).c_str(), TimeText(left).c_str());
  } else if (bytesPerSecond > 0) {
    std::snprintf(text, sizeof text, core::TrN("syncing %d file at %s", "syncing %d files at %s", count),
                  static_cast<int>(files), SpeedText(bytesPerSecond).c_str());
  } else {
    std::snprintf(text, sizeof text, core::TrN("syncing %d file", "syncing %d files", count), static_cast<int>(files));
  }
  return text;
}

}  // namespace morvex::ctl
