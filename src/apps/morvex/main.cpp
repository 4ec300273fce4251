// morvex: the synchronisation service, one per user.
#include <malloc.h>

#include <string>
#include <vector>

#include "platform/SignalWatcher.h"
#include "service/MorvexService.h"

int main(int argc, char** argv) {
  // File parts travel in buffers of 1 MiB and more, allocated and freed for
  // every part. From the heap, and with freed memory kept rather than given
  // back page by page, they cost no page faults and no zeroing by the
  // kernel each time.
  mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
  // Before any thread exists, so that only the watcher receives them.
  morvex::platform::SignalWatcher::BlockTerminationSignals();
  morvex::service::CMorvexServiceApp app(std::vector<std::string>(argv, argv + argc));
  morvex::platform::SignalWatcher signals([&app](int) { app.Loop().Quit(); });
  return app.Run();
}
