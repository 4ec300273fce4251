// The main window's counters of running work, driven by broadcasts.
#include "desktop/ActivityStatus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/BroadcastService.h"
#include "desktop/TrayIconState.h"

namespace morvex::desktop {
namespace {

// Records what the window would show; the tray's bits as the tray keeps them.
class FakeView final : public IActivityView {
 public:
  void SetSyncButtonBusy(bool busy) override { buttonBusy = busy; }
  uint32_t TrayState() const override { return tray.State(); }
  void SetTrayFlags(uint32_t bits) override { tray.SetFlags(bits); }
  void ClearTrayFlags(uint32_t bits) override { tray.ClearFlags(bits); }
  void ShowBalloon(const std::string& text) override { balloons.push_back(text); }
  void SetTooltip(const std::string& text) override { tooltip = text; }
  void StartRefreshTimer() override { timerRunning = true; }
  void StopRefreshTimer() override { timerRunning = false; }

  bool buttonBusy = false;
  TrayIconState tray;
  std::vector<std::string> balloons;
  std::string tooltip;
  bool timerRunning = false;
};

class ActivityStatusTest : public ::testing::Test {
 protected:
  void Send(int code, const std::any& parameter = {}) { ASSERT_TRUE(activity_.OnBroadcast(code, parameter)); }

  FakeView view_;
  ActivityStatus activity_{view_};
};

TEST_F(ActivityStatusTest, OverlappingPassesKeepTheButtonBusyUntilBothEnd) {
  Send(core::BM_SYNC_BEGIN);
  EXPECT_TRUE(view_.buttonBusy);
  EXPECT_EQ(view_.tray.State(), TrayIconState::kSyncing);
  EXPECT_TRUE(view_.timerRunning);
  Send(core::BM_SYNC_BEGIN);
  Send(core::BM_SYNC_END);
  EXPECT_TRUE(view_.buttonBusy);
  EXPECT_TRUE(view_.tray.Animating());
  activity_.OnRefreshTimer();
  EXPECT_EQ(view_.tooltip, "Running 1 sync task");
  Send(core::BM_SYNC_END);
  EXPECT_FALSE(view_.buttonBusy);
  EXPECT_EQ(view_.tray.State(), 0u);
  EXPECT_FALSE(view_.timerRunning);
  EXPECT_EQ(view_.tooltip, "No task running");
  // An end whose beginning this window never saw changes nothing.
  Send(core::BM_SYNC_END);
  EXPECT_EQ(activity_.Counts().passes, 0);
  EXPECT_FALSE(view_.buttonBusy);
}

TEST_F(ActivityStatusTest, IndexingAndSyncingSetTheirOwnBits) {
  Send(core::BM_INDEX_BEGIN, core::IndexEvent{1, 5});
  EXPECT_EQ(view_.tray.State(), TrayIconState::kIndexing);
  Send(core::BM_SYNC_BEGIN);
  EXPECT_EQ(view_.tray.State(), TrayIconState::kIndexing | TrayIconState::kSyncing);
  Send(core::BM_INDEX_PROGRESS, core::IndexEvent{1, 3});
  EXPECT_EQ(view_.tray.State(), TrayIconState::kIndexing | TrayIconState::kSyncing);
  Send(core::BM_INDEX_PROGRESS, core::IndexEvent{1, 2});
  EXPECT_EQ(view_.tray.State(), TrayIconState::kSyncing);
  EXPECT_TRUE(view_.timerRunning) << "the pass still runs";
  Send(core::BM_SYNC_END);
  EXPECT_FALSE(view_.timerRunning);
}

TEST_F(ActivityStatusTest, TransfersShowTheirProgressAndFinishedWorkABalloon) {
  Send(core::BM_SYNC_BEGIN);
  Send(core::BM_FILES_TOTAL, core::FileEvent{1, 1, 3});
  Send(core::BM_BYTES_TOTAL, core::ByteEvent{1, 1, 30});
  Send(core::BM_BYTES_DONE, core::ByteEvent{1, 1, 10});
  activity_.OnRefreshTimer();
  EXPECT_EQ(view_.tooltip, "Running 1 sync task\nSyncing 3 files, 10.0B/s, 2s left");
  Send(core::BM_BYTES_DONE, core::ByteEvent{1, 1, 10});
  Send(core::BM_FILES_DONE, core::FileEvent{1, 1, 2});
  Send(core::BM_BYTES_SKIPPED, core::ByteEvent{1, 1, 10});
  Send(core::BM_FILES_LEFT, core::FileEvent{1, 1, 1});
  Send(core::BM_DELETE_APPLIED, core::DeletionsEvent{"uuid", "/r", 1});
  Send(core::BM_INVALID_NAME, core::PathEvent{"uuid", "/r/a:b"});
  Send(core::BM_SYNC_END);
  EXPECT_EQ(view_.balloons, (std::vector<std::string>{"2 files updated", "1 file deleted",
                                                      "Could not sync the file \"/r/a:b\": the path is not valid"}));
  EXPECT_EQ(activity_.Counts().files, 0);
  EXPECT_EQ(activity_.Counts().bytesLeft, 0);
  EXPECT_EQ(view_.tooltip, "No task running");
  EXPECT_FALSE(activity_.OnBroadcast(core::BM_TRUST_REQUEST, {}));
}

}  // namespace
}  // namespace morvex::desktop
