// The desktop's plumbing: posting to windows, the service's loop inside
// Qt's, the text table and the pictures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

#include "desktop/Icons.h"
#include "desktop/LoopBridge.h"
#include "desktop/Strings.h"
#include "desktop/UiHandler.h"

namespace morvex::desktop {
namespace {

class CountingRunnable final : public core::IRunnable {
 public:
  explicit CountingRunnable(int& runs) : runs_(runs) {}
  uint32_t Run() override {
    ++runs_;
    return 0;
  }

 private:
  int& runs_;
};

TEST(UiHandlerTest, RunsOnTheWindowsThreadAndDropsWorkForAClosedWindow) {
  platform::MessageLoop loop;
  int runs = 0;
  auto window = std::make_unique<QWidget>();
  CUiHandler handler(loop, window.get());
  std::thread poster([&] {
    ASSERT_TRUE(handler.Post(std::make_unique<CountingRunnable>(runs)));
    ASSERT_TRUE(handler.Post(std::make_unique<CountingRunnable>(runs)));
  });
  poster.join();
  EXPECT_EQ(runs, 0) << "ran on the posting thread";
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 2);

  // Posted while the window lives, its turn comes after the window is gone.
  ASSERT_TRUE(handler.Post(std::make_unique<CountingRunnable>(runs)));
  window.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(handler.Post(nullptr));
}

TEST(LoopBridgeTest, TheServicesWorkRunsInQtsLoopUntilTheServiceQuits) {
  platform::MessageLoop loop;
  LoopBridge bridge(loop);
  std::atomic<int> ran = 0;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) loop.Post([&] { ++ran; });
    loop.Post([&] { loop.Quit(); });
  });
  // A watchdog: exec() must end by the loop's Quit, not by this.
  bool watchdogFired = false;
  QTimer::singleShot(5000, [&] {
    watchdogFired = true;
    QCoreApplication::quit();
  });
  QApplication::exec();
  worker.join();
  EXPECT_FALSE(watchdogFired);
  EXPECT_EQ(ran.load(), 3);
}

TEST(StringsTest, NumberedTextsAreFoundAndPluralsChooseTheirForm) {
  EXPECT_STREQ(Str(107), "Morvex");
  EXPECT_STREQ(Text(208), "No task running");
  EXPECT_EQ(Text(99999), nullptr);
  EXPECT_STREQ(TextN(206, 1), "Indexing %d file");
  EXPECT_STREQ(TextN(206, 7), "Indexing %d files");
  EXPECT_EQ(Printf(core::TrN(StrPair(211).one, StrPair(211).many, 2), 2, "1.5KB/s", "1m 30s"),
            "Syncing 2 files, 1.5KB/s, 1m 30s left");
  for (const StringEntry& entry : kStringTable) {
    EXPECT_NE(Text(entry.id), nullptr) << entry.id;
  }
}

TEST(IconsTest, EveryPictureTheWindowsNameIsCompiledIn) {
  const int numbers[] = {130, 131, 132, 133, 134, 137, 138, 139, 140, 141, 142, 143, 144, 145, 146, 147,
                         151, 160, 162, 168, 169, 170, 171, 172, 173, 174, 175, 176, 177, 185, 187, 189};
  for (int number : numbers) {
    const QIcon icon = Icon(number);
    ASSERT_FALSE(icon.isNull()) << number;
    EXPECT_FALSE(icon.pixmap(48, 48).isNull()) << number << " does not render";
  }
  EXPECT_TRUE(Icon(129).isNull());
}

}  // namespace
}  // namespace morvex::desktop
