#include "desktop/ActivityStatus.h"

#include "core/BroadcastService.h"
#include "desktop/Strings.h"
#include "desktop/TrayIconState.h"

namespace morvex::desktop {

bool ActivityStatus::OnBroadcast(int code, const std::any& parameter) {
  switch (code) {
    case core::BM_SYNC_BEGIN:
      PassBegins();
      return true;
    case core::BM_SYNC_END:
      PassEnds();
      return true;
    case core::BM_DELETE_APPLIED: {
      const int32_t count = core::ParameterAs<core::DeletionsEvent>(parameter).count;
      view_.ShowBalloon(Printf(core::TrN(StrPair(204).one, StrPair(204).many, static_cast<unsigned long>(count)), count));
      return true;
    }
    case core::BM_INDEX_BEGIN:
      IndexingBegins(core::ParameterAs<core::IndexEvent>(parameter).count);
      return true;
    case core::BM_INDEX_PROGRESS:
      IndexingProgresses(core::ParameterAs<core::IndexEvent>(parameter).count);
      return true;
    case core::BM_BYTES_TOTAL:
      counts_.bytesLeft += core::ParameterAs<core::ByteEvent>(parameter).bytes;
      return true;
    case core::BM_BYTES_DONE: {
      const int64_t bytes = core::ParameterAs<core::ByteEvent>(parameter).bytes;
      counts_.bytesLeft -= bytes;
      counts_.bytesSinceRefresh += bytes;
      return true;
    }
    case core::BM_BYTES_SKIPPED:
      counts_.bytesLeft -= core::ParameterAs<core::ByteEvent>(parameter).bytes;
      return true;
    case core::BM_FILES_TOTAL:
      counts_.files += core::ParameterAs<core::FileEvent>(parameter).count;
      return true;
    case core::BM_FILES_DONE: {
      const int32_t count = core::ParameterAs<core::FileEvent>(parameter).count;
      counts_.files -= count;
      view_.ShowBalloon(Printf(core::TrN(StrPair(205).one, StrPair(205).many, static_cast<unsigned long>(count)), count));
      return true;
    }
    case core::BM_FILES_LEFT:
      counts_.files -= core::ParameterAs<core::FileEvent>(parameter).count;
      return true;
    case core::BM_INVALID_NAME:
      view_.ShowBalloon(Printf(core::Tr(Str(212)), core::ParameterAs<core::PathEvent>(parameter).path.c_str()));
      return true;
    default:
      return false;
  }
}

void ActivityStatus::PassBegins() {
  if (view_.TrayState() == 0) view_.StartRefreshTimer();
  if (counts_.passes == 0) {
    view_.SetSyncButtonBusy(true);
    view_.SetTrayFlags(TrayIconState::kSyncing);
  }
  ++counts_.passes;
}

void ActivityStatus::PassEnds() {
  // An end without its beginning (a pass that began before this window
  // existed) must not leave the count below zero and the button disabled.
  if (counts_.passes > 0) --counts_.passes;
  if (counts_.passes == 0) {
    view_.SetSyncButtonBusy(false);
    view_.ClearTrayFlags(TrayIconState::kSyncing);
  }
  StopWhenIdle();
}

void ActivityStatus::IndexingBegins(int32_t items) {
  if (view_.TrayState() == 0) view_.StartRefreshTimer();
  if (counts_.indexing <= 0) view_.SetTrayFlags(TrayIconState::kIndexing);
  counts_.indexing += items;
}

void ActivityStatus::IndexingProgresses(int32_t items) {
  counts_.indexing -= items;
  if (counts_.indexing <= 0) {
    counts_.indexing = 0;
    view_.ClearTrayFlags(TrayIconState::kIndexing);
  }
  StopWhenIdle();
}

void ActivityStatus::StopWhenIdle() {
  if (view_.TrayState() != 0) return;  // other work still runs: the timer keeps refreshing
  view_.StopRefreshTimer();
  Refresh();
}

void ActivityStatus::OnRefreshTimer() {
  const bool changed = counts_.passes != shown_.passes || counts_.indexing != shown_.indexing ||
                       counts_.files != shown_.files || counts_.bytesLeft != shown_.bytesLeft;
  if (changed) Refresh();
}

void ActivityStatus::Refresh() {
  view_.SetTooltip(StatusText(counts_));
  shown_ = counts_;
  counts_.bytesSinceRefresh = 0;
}

}  // namespace morvex::desktop
