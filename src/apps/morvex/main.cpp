// morvex: the synchronisation service, one per user.
#include <malloc.h>

#include <iostream>
#include <string>
#include <vector>

#include "core/Text.h"
#include "platform/SignalWatcher.h"
#include "service/CommandLine.h"
#include "service/MorvexService.h"

#ifdef MORVEX_WITH_DESKTOP
#include <QApplication>

#include "desktop/Desktop.h"
#include "desktop/LoopBridge.h"
#include "desktop/SetupWizard.h"
#include "desktop/Strings.h"
#endif

namespace {

int RunHeadless(const std::vector<std::string>& arguments) {
  morvex::service::CMorvexServiceApp app(arguments);
  morvex::platform::SignalWatcher signalWatcher([&app](int) { app.Loop().Quit(); });
  return app.Run();
}

#ifdef MORVEX_WITH_DESKTOP
int RunWithDesktop(int& argc, char** argv, const std::vector<std::string>& arguments) {
  QApplication qt(argc, argv);
  // QApplication took the whole locale from the environment; the service
  // formats and folds text as in "C" (core/Text.h).
  morvex::core::RestoreTextLocale();
  morvex::desktop::LoadQtTexts();
  auto factory = morvex::service::ComponentFactory::Default();
  // A first start asks its questions in the setup wizard; its answers make
  // the same identity as the options of a headless first start.
  factory.firstStart = [](const morvex::service::CommandLineOptions& options) {
    // What the command line gave (-n, -t, MORVEX_TOKEN, the ports) is filled in.
    auto defaults = morvex::desktop::WizardDefaults(options.name);
    defaults.password = options.token.value_or("");
    defaults.broadcastPort = options.broadcastPort.value_or(defaults.broadcastPort);
    defaults.routePort = options.routePort.value_or(defaults.routePort);
    defaults.pubPort = options.pubPort.value_or(defaults.pubPort);
    const auto answers = morvex::desktop::RunSetupWizard(defaults);
    if (!answers) {
      std::cerr << "Morvex: " << morvex::core::Tr(morvex::desktop::text::kSetupCancelled) << std::endl;
      return 1;
    }
    morvex::service::CommandLineOptions chosen = options;
    chosen.name = answers->name;
    chosen.token = answers->password;
    chosen.broadcastPort = answers->broadcastPort;
    chosen.routePort = answers->routePort;
    chosen.pubPort = answers->pubPort;
    return morvex::service::HeadlessFirstStart(chosen);
  };
  // The start-up check for a newer program asks before it installs one.
  factory.confirmUpdate = morvex::desktop::AskToUpdate;
  morvex::service::CMorvexServiceApp app(arguments, std::move(factory));
  // Outlives the run: workers post to the loop until ExitInstance stops them.
  morvex::desktop::LoopBridge bridge(app.Loop());
  morvex::platform::SignalWatcher signalWatcher([&app](int) { app.Loop().Quit(); });
  return app.Run([&app] {
    morvex::desktop::RunDesktop(
        {app.Loop(), app.Config(), *app.Keys(), app.Zmq(), [&app] { return app.RestartService(); }, app.AppDir()});
  });
}
#endif

}  // namespace

int main(int argc, char** argv) {
  morvex::core::InitTexts(argv[0]);
  const std::vector<std::string> arguments(argv, argv + argc);
  // --help, --version and a mistaken command line end here, before any
  // profile, lock, log or socket exists.
  const auto parsed = morvex::service::ParseCommandLine(arguments);
  if (const auto status = morvex::service::AnswerWithoutStarting(parsed, std::cout, std::cerr)) {
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
#ifdef MORVEX_WITH_DESKTOP
  if (!parsed.options.headless && morvex::desktop::DisplayReachable()) return RunWithDesktop(argc, argv, arguments);
#endif
  return RunHeadless(arguments);
}
