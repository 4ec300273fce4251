#include "desktop/TrayIconState.h"

#include "desktop/Icons.h"

namespace morvex::desktop {

namespace {
constexpr int kFrames = kIconBusyLast - kIconBusyFirst + 1;
}  // namespace

int TrayIconState::ShownIcon() const { return animating_ ? kIconBusyFirst + frame_ : kIconApp; }

int TrayIconState::NextFrame() {
  frame_ = (frame_ + 1) % kFrames;
  return kIconBusyFirst + frame_;
}

TrayIconState::Change TrayIconState::Switch(uint32_t state) {
  state_ = state;
  const bool animate = state_ != 0;
  // Only the idle state is still: moving between indexing and syncing
  // keeps the animation running where it is.
  if (animate == animating_) return Change::kNone;
  animating_ = animate;
  frame_ = 0;
  return animate ? Change::kStartAnimation : Change::kShowStill;
}

}  // namespace morvex::desktop
