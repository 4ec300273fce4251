// The one-line status the tray's tooltip shows, and its speed and time
// parts, in the user's language.
#pragma once

#include <cstdint>
#include <string>

namespace morvex::desktop {

// The counters of what the service is doing, as the main window keeps them
// from the workers' broadcasts.
struct ActivityCounts {
  int32_t passes = 0;             // sync passes running
  int32_t indexing = 0;           // indexing items outstanding
  int32_t files = 0;              // files still to transfer
  int64_t bytesLeft = 0;          // bytes still to transfer
  int64_t bytesSinceRefresh = 0;  // bytes received since the status was last refreshed
};

// "1.5KB/s": bytes per second in the largest unit that keeps it below 1024.
std::string SpeedText(double bytesPerSecond);

// "1m 30s", "1d 2h"; from three days on only that it takes a while.
std::string TimeText(uint64_t seconds);

// One line per kind of work running (indexing, passes, files with their
// speed and time left), joined by line feeds; that nothing runs otherwise.
// The bytes since the last refresh stand for the speed: the refresh runs
// once a second.
std::string StatusText(const ActivityCounts& counts);

}  // namespace morvex::desktop
