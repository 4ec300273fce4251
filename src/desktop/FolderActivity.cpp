#include "desktop/FolderActivity.h"

#include <algorithm>
#include <set>

#include "core/BroadcastService.h"
#include "ctl/ServiceStatus.h"
#include "desktop/StatusText.h"
#include "desktop/Strings.h"

namespace morvex::desktop {

namespace {

template <typename Value>
void KeepOnly(std::map<int32_t, Value>& known, const std::vector<int32_t>& ids) {
  const std::set<int32_t> listed(ids.begin(), ids.end());
  std::erase_if(known, [&listed](const auto& entry) { return !listed.contains(entry.first); });
  for (const int32_t id : ids) known.try_emplace(id);
}

}  // namespace

void FolderActivity::Track(const std::vector<int32_t>& treeIds, const std::vector<int32_t>& relationIds) {
  KeepOnly(indexing_, treeIds);
  KeepOnly(relations_, relationIds);
}

bool FolderActivity::OnBroadcast(int code, const std::any& parameter) {
  switch (code) {
    case core::BM_INDEX_BEGIN:
    case core::BM_INDEX_PROGRESS: {
      const auto event = core::ParameterAs<core::IndexEvent>(parameter);
      const auto tree = indexing_.find(event.treeId);
      if (tree != indexing_.end()) tree->second += code == core::BM_INDEX_BEGIN ? event.count : -event.count;
      return true;
    }
    case core::BM_BYTES_TOTAL:
    case core::BM_BYTES_DONE:
    case core::BM_BYTES_SKIPPED: {
      const auto event = core::ParameterAs<core::ByteEvent>(parameter);
      RelationActivity* relation = Relation(event.syncId);
      if (relation == nullptr) return true;
      relation->bytesLeft += code == core::BM_BYTES_TOTAL ? event.bytes : -event.bytes;
      if (code == core::BM_BYTES_DONE) relation->bytesSinceRefresh += event.bytes;
      return true;
    }
    case core::BM_FILES_TOTAL:
    case core::BM_FILES_DONE:
    case core::BM_FILES_LEFT: {
      const auto event = core::ParameterAs<core::FileEvent>(parameter);
      RelationActivity* relation = Relation(event.syncId);
      if (relation != nullptr) relation->files += code == core::BM_FILES_TOTAL ? event.count : -event.count;
      return true;
    }
    default:
      return false;
  }
}

int32_t FolderActivity::Indexing(int32_t treeId) const {
  const auto tree = indexing_.find(treeId);
  return tree == indexing_.end() ? 0 : tree->second;
}

RelationActivity* FolderActivity::Relation(int32_t relationId) {
  const auto relation = relations_.find(relationId);
  return relation == relations_.end() ? nullptr : &relation->second;
}

std::optional<std::string> PendingText(int32_t files, int64_t bytesLeft, int64_t bytesSinceRefresh) {
  if (files <= 0) return std::nullopt;
  // The refresh runs once a second: the bytes of the interval are the speed.
  const int64_t secondsLeft = bytesSinceRefresh > 0 ? bytesLeft / bytesSinceRefresh : 0;
  const auto n = static_cast<unsigned long>(files);
  if (bytesSinceRefresh > 0 && secondsLeft > 0) {
    return Printf(core::TrN(StrPair(217).one, StrPair(217).many, n), files,
                  SpeedText(static_cast<double>(bytesSinceRefresh)).c_str(),
                  TimeText(static_cast<uint64_t>(secondsLeft)).c_str());
  }
  if (bytesSinceRefresh > 0) {
    return Printf(core::TrN(StrPair(216).one, StrPair(216).many, n), files,
                  SpeedText(static_cast<double>(bytesSinceRefresh)).c_str());
  }
  return Printf(core::TrN(StrPair(215).one, StrPair(215).many, n), files);
}

std::optional<std::string> LastPassFailure(const core::RelationStatus& status, const std::string& peerName) {
  if (status.lastPassEnd == 0 || status.lastPassOk || status.lastPass.problem == core::PassProblem::kNone) {
    return std::nullopt;
  }
  ctl::RelationState state;
  state.peerName = peerName;
  state.problem = static_cast<ctl::LastPassProblem>(status.lastPass.problem);
  state.peerError = status.lastPass.peerError;
  state.failedCount = std::max<int32_t>(status.lastPass.itemCount, static_cast<int32_t>(status.lastPass.items.size()));
  std::string text = ctl::ProblemText(state);
  if (text.empty()) return std::nullopt;
  return text;
}

std::string IndexingText(int32_t items) {
  if (items <= 0) return {};
  return Printf(core::TrN(StrPair(206).one, StrPair(206).many, static_cast<unsigned long>(items)), items);
}

}  // namespace morvex::desktop
