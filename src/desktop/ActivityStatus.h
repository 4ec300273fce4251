// What the workers' broadcasts mean for the main window: the counters of
// running work, the "Sync now" button, the tray's state bits, the status
// text and the balloons.
#pragma once

#include <any>
#include <cstdint>
#include <string>

#include "desktop/StatusText.h"

namespace morvex::desktop {

// Where the activity shows: the main window with its button, its refresh
// timer and its tray icon (a fake in tests).
class IActivityView {
 public:
  virtual ~IActivityView() = default;
  // Busy: "Syncing..." and disabled; idle: "Sync now", enabled.
  virtual void SetSyncButtonBusy(bool busy) = 0;
  // The tray's state bits (TrayIconState::Bits); 0 without a tray.
  virtual uint32_t TrayState() const = 0;
  virtual void SetTrayFlags(uint32_t bits) = 0;
  virtual void ClearTrayFlags(uint32_t bits) = 0;
  virtual void ShowBalloon(const std::string& text) = 0;
  virtual void SetTooltip(const std::string& text) = 0;
  // The once-a-second refresh of the status while work runs.
  virtual void StartRefreshTimer() = 0;
  virtual void StopRefreshTimer() = 0;
};

// Keeps the counters; confined to the main window's thread.
class ActivityStatus {
 public:
  explicit ActivityStatus(IActivityView& view) : view_(view) {}

  // One broadcast of the workers (the pass, indexing, transfer and
  // notice codes); false for a code this does not follow.
  bool OnBroadcast(int code, const std::any& parameter);
  // The refresh timer: the status is refreshed when a counter changed.
  void OnRefreshTimer();
  // Puts the status text into the tooltip and starts a new speed interval.
  void Refresh();

  const ActivityCounts& Counts() const { return counts_; }

 private:
  void PassBegins();
  void PassEnds();
  void IndexingBegins(int32_t items);
  void IndexingProgresses(int32_t items);
  // After work ended: once the tray is idle, the timer stops and the
  // status shows the last word.
  void StopWhenIdle();

  IActivityView& view_;
  ActivityCounts counts_;
  ActivityCounts shown_;  // the counters the status text last showed
};

}  // namespace morvex::desktop
