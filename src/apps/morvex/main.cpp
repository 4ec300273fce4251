// morvex: the synchronisation service, one per user.
#include <string>
#include <vector>

#include "platform/SignalWatcher.h"
#include "service/MorvexService.h"

int main(int argc, char** argv) {
  // Before any thread exists, so that only the watcher receives them.
  morvex::platform::SignalWatcher::BlockTerminationSignals();
  morvex::service::CMorvexServiceApp app(std::vector<std::string>(argv, argv + argc));
  morvex::platform::SignalWatcher signals([&app](int) { app.Loop().Quit(); });
  return app.Run();
}
