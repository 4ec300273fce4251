// The desktop tests run on Qt's offscreen platform: no display needed.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "core/Text.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  morvex::core::InitTexts(argv[0]);
  QApplication application(argc, argv);
  morvex::core::RestoreTextLocale();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
