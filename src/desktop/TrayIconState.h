// Which picture the tray icon shows for what the service is doing.
#pragma once

#include <cstdint>

namespace morvex::desktop {

// The state bits and the icon they call for: the still application icon
// while idle, the busy animation while indexing or syncing. Knows nothing
// of Qt, so that the tray's behaviour is testable without a tray.
// Confined to the main window's thread.
class TrayIconState {
 public:
  enum Bits : uint32_t {
    kIndexing = 1,
    kSyncing = 2,
  };
  // What the tray must do after a change of state.
  enum class Change {
    kNone,            // the same picture as before
    kShowStill,       // stop the animation (if any) and show the still icon
    kStartAnimation,  // start the animation from its first frame
  };

  Change SetFlags(uint32_t bits) { return Switch(state_ | bits); }
  Change ClearFlags(uint32_t bits) { return Switch(state_ & ~bits); }
  uint32_t State() const { return state_; }
  bool Animating() const { return animating_; }

  // The picture showing now: the still icon, or the current frame.
  int ShownIcon() const;
  // The animation's next frame (131 to 134, wrapping to 131), which is then
  // the one showing.
  int NextFrame();

 private:
  Change Switch(uint32_t state);

  uint32_t state_ = 0;
  bool animating_ = false;
  int frame_ = 0;  // 0 to 3: the frame showing while animating
};

}  // namespace morvex::desktop
