// morvex: the synchronisation service, one per user.
#include <malloc.h>

#include <iostream>
#include <string>
#include <vector>

#include "core/Text.h"
#include "platform/SignalWatcher.h"
#include "service/CommandLine.h"
#include "service/MorvexService.h"

int main(int argc, char** argv) {
  morvex::core::InitTexts(argv[0]);
  const std::vector<std::string> arguments(argv, argv + argc);
  // --help, --version and a mistaken command line end here, before any
  // profile, lock, log or socket exists.
  if (const auto status = morvex::service::AnswerWithoutStarting(morvex::service::ParseCommandLine(arguments),
                                                                 std::cout, std::cerr)) {
    return *status;
  }
  // File parts travel in buffers of 1 MiB and more, allocated and freed for
  // every part. From the heap, and with freed memory kept rather than given
  // back page by page, they cost no page faults and no zeroing by the
  // kernel each time.
  mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
  // Before any thread exists, so that only the watcher receives them.
  morvex::platform::SignalWatcher::BlockTerminationSignals();
  morvex::service::CMorvexServiceApp app(arguments);
  morvex::platform::SignalWatcher signals([&app](int) { app.Loop().Quit(); });
  return app.Run();
}
