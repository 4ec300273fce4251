// The tray's icon states, its recent-changes menu and the file manager's URIs.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <string>
#include <vector>

#include "desktop/FileManager.h"
#include "desktop/RecentChanges.h"
#include "desktop/TrayIconState.h"
#include "store/StoreFixture.h"

namespace morvex::desktop {
namespace {

using Change = TrayIconState::Change;

TEST(TrayIconStateTest, AnyWorkAnimatesAndOnlyIdleIsStill) {
  constexpr uint32_t kIndexing = TrayIconState::kIndexing, kSyncing = TrayIconState::kSyncing;
  TrayIconState tray;
  EXPECT_EQ(tray.ShownIcon(), 130);
  const struct {
    bool set;
    uint32_t bits;
    Change change;
    uint32_t state;
  } steps[] = {
      {true, kIndexing, Change::kStartAnimation, kIndexing},
      {true, kSyncing, Change::kNone, kIndexing | kSyncing},
      {false, kIndexing, Change::kNone, kSyncing},  // clearing one keeps it animating
      {false, kSyncing, Change::kShowStill, 0},
      {true, kSyncing, Change::kStartAnimation, kSyncing},
      {true, kIndexing, Change::kNone, kIndexing | kSyncing},
      {false, kIndexing | kSyncing, Change::kShowStill, 0},
      {false, kSyncing, Change::kNone, 0},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(step.set ? tray.SetFlags(step.bits) : tray.ClearFlags(step.bits), step.change) << step.bits;
    EXPECT_EQ(tray.State(), step.state);
    EXPECT_EQ(tray.ShownIcon(), step.state ? 131 : 130);
  }
}

TEST(TrayIconStateTest, TheAnimationStepsThroughItsFramesAndWraps) {
  TrayIconState tray;
  tray.SetFlags(TrayIconState::kSyncing);
  std::vector<int> frames;
  for (int i = 0; i < 5; ++i) frames.push_back(tray.NextFrame());
  EXPECT_EQ(frames, (std::vector<int>{132, 133, 134, 131, 132}));
  EXPECT_EQ(tray.ShownIcon(), 132);
  // A new animation starts from the first frame.
  tray.ClearFlags(TrayIconState::kSyncing);
  tray.SetFlags(TrayIconState::kIndexing);
  EXPECT_EQ(tray.ShownIcon(), 131);
}

class RecentChangesTest : public store::StoreFixture {
 protected:
  void AddFile(const std::string& path, int64_t usn) {
    ASSERT_TRUE(Db().Exec("INSERT INTO File (tree_id, path, type, status, usn, sha1, local_clock) VALUES (1, '" +
                          path + "', 0, 1, " + std::to_string(usn) + ", '', 1)"));
  }
  // The menu's item texts and whether each is enabled ("-" for a separator).
  static std::vector<std::string> Items(const QMenu& menu) {
    std::vector<std::string> items;
    for (const QAction* action : menu.actions()) {
      items.push_back(action->isSeparator() ? "-"
                                            : action->text().toStdString() + (action->isEnabled() ? "" : " (off)"));
    }
    return items;
  }

  std::vector<std::string> opened_;
  RecentChanges recent_{[this](const std::string& path) { opened_.push_back(path); }};
  QMenu menu_;
};

TEST_F(RecentChangesTest, WithoutChangesThePlaceholderOpensNothing) {
  recent_.Fill(menu_);
  EXPECT_EQ(Items(menu_), (std::vector<std::string>{"(empty) (off)", "-", "&Clear history (off)"}));
  menu_.actions().front()->trigger();
  EXPECT_TRUE(opened_.empty());
}

TEST_F(RecentChangesTest, TheTenNewestAreListedNewestFirstAndOpenTheirFile) {
  for (int i = 1; i <= 11; ++i) AddFile("/r/sub/f" + std::to_string(i), i);
  AddFile("/r/a&b", 12);
  recent_.Fill(menu_);
  const std::vector<std::string> expected = {"a&&b", "f11", "f10", "f9", "f8", "f7", "f6", "f5", "f4", "f3", "-",
                                             "&Clear history"};
  EXPECT_EQ(Items(menu_), expected);
  menu_.actions()[1]->trigger();
  EXPECT_EQ(opened_, std::vector<std::string>{"/r/sub/f11"});

  // Refilling replaces the items; the floor hides what came before it.
  EXPECT_FALSE(recent_.Answer(QMessageBox::No));
  EXPECT_FALSE(recent_.Answer(QMessageBox::Cancel));
  recent_.Fill(menu_);
  EXPECT_EQ(menu_.actions().size(), 12);
  EXPECT_TRUE(recent_.Answer(QMessageBox::Yes));
  EXPECT_EQ(recent_.Floor(), 12);
  AddFile("/r/new", 13);
  recent_.Fill(menu_);
  EXPECT_EQ(Items(menu_), (std::vector<std::string>{"new", "-", "&Clear history"}));
}

TEST(FileManagerTest, UrisAreEncodedAndFoldersContainTheirItems) {
  EXPECT_EQ(FileUri("/home/me/a b/ü#1.txt").toStdString(), "file:///home/me/a%20b/%C3%BC%231.txt");
  EXPECT_EQ(ContainingFolder("/home/me/x.txt"), "/home/me");
  EXPECT_EQ(ContainingFolder("/x.txt"), "/");
}

}  // namespace
}  // namespace morvex::desktop
