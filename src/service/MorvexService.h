#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/KelmConfig.h"
#include "core/Text.h"
#include "core/WorkThread.h"
#include "device/KeyManager.h"
#include "events/EventRecorder.h"
#include "index/SyncDirManager.h"
#include "index/UsnAllocator.h"
#include "peer/PeerContext.h"
#include "peer/TrustBook.h"
#include "platform/InstanceLock.h"
#include "platform/MessageLoop.h"
#include "protocol/ZmqSocket.h"
#include "aux/AutoUpdater.h"
#include "service/CommandLine.h"
#include "service/DeviceIdentity.h"

namespace morvex::service {

// How the application object makes its long-lived components. Tests replace
// single entries (a worker that never reports ready, say); a null entry is a
// component that does not exist in this build and is skipped.
struct ComponentFactory {
  using WorkerMaker = std::function<std::unique_ptr<core::CWorkThread>(peer::PeerContext&)>;
  WorkerMaker statusThread;
  WorkerMaker indexThread;
  WorkerMaker refreshThread;
  // The response router: binds the route, publish and discovery ports.
  WorkerMaker respRouter;
  // The sync scheduler and its four workers; started after the router.
  WorkerMaker syncRouter;
  // Watches the trees and feeds the indexers.
  bool watchTrees = true;
  // Where discovery broadcasts go (every up, non-loopback interface).
  std::function<std::optional<std::vector<std::string>>()> broadcastAddresses;
  // A device without a UUID gets one here (the headless first start; the
  // desktop puts its setup wizard in place). Returns 0 or an exit status.
  std::function<int(const CommandLineOptions&)> firstStart;
  // The question before --create wipes the device.
  ConfirmReset confirmReset;
  // The question before the start-up check installs a newer program (the
  // desktop asks with a box); empty: the update is declined.
  aux::ConfirmUpdate confirmUpdate;

  static ComponentFactory Default();
};

// The application object: owns every long-lived component of the process,
// starts them in a fixed order behind the start-up barrier and stops them in
// a fixed order. InitInstance, ExitInstance and the message loop run on the
// main thread; worker threads exist between the barrier and ExitInstance.
class CMorvexServiceApp {
 public:
  static constexpr int kBarrierWaitMs = 1000;
  static constexpr int kWorkersAtStart = 3;

  explicit CMorvexServiceApp(std::vector<std::string> arguments, ComponentFactory factory = ComponentFactory::Default());
  CMorvexServiceApp(const CMorvexServiceApp&) = delete;
  CMorvexServiceApp& operator=(const CMorvexServiceApp&) = delete;
  ~CMorvexServiceApp();

  // True when the service runs. ExitInstance must follow in both cases.
  bool InitInstance();
  // Stops everything InitInstance started, in reverse order; once only.
  void ExitInstance();
  // InitInstance, the message loop until Quit, ExitInstance.
  int Run();
  // The same with another loop in place of the message loop (the desktop's
  // event loop, which runs this one's work and returns once it quits).
  int Run(const std::function<void()>& runLoop);
  // Starts a new process of this service with the same arguments plus
  // "--restart"; the caller then quits the loop.
  bool RestartService();

  platform::MessageLoop& Loop() { return loop_; }
  // The process's ZeroMQ context: in-process endpoints reach the workers
  // only through it.
  protocol::ZmqContext& Zmq() { return context_; }
  config::CKelmConfigManager& Config() { return config_; }
  protocol::IKeyManager* Keys() { return keyManager_.get(); }
  const std::string& Metadir() const { return metadir_; }
  const std::string& AppDir() const { return appDir_; }
  // Process-wide library shutdown (protobuf, glog) at the end of ExitInstance;
  // off for tests that run the application object in-process.
  void SetShutdownLibraries(bool on) { shutdownLibraries_ = on; }

 private:
  bool TakeInstanceLock();
  // The silent update check at start; true when a new program is in place
  // and started, so this process ends.
  bool UpdatedAtStart();
  bool PassStartupBarrier(protocol::ZmqSocket& collector);
  bool StartWorker(const ComponentFactory::WorkerMaker& maker, std::unique_ptr<core::CWorkThread>& slot,
                   const char* failure);
  void StopWorkers();
  // A start-up failure as the user sees it: one line on standard error and
  // the same text in the log.
  void ReportStartFailure(const std::string& text);
  // A fixed text: translated on the terminal, as written in the log.
  void ReportStartFailure(const char* english);

  std::vector<std::string> arguments_;
  ComponentFactory factory_;
  // Declared first so that it is destroyed last, after every socket.
  protocol::ZmqContext context_;
  config::CKelmConfigManager config_;
  bool configObserved_ = false;
  int exitCode_ = 1;  // of a failed start
  platform::MessageLoop loop_;
  CommandLineOptions options_;
  std::string metadir_;
  std::string appDir_;
  platform::InstanceLock instanceLock_;
  bool storeOpen_ = false;
  bool shutdownLibraries_ = true;
  bool exited_ = false;
  bool statusBoardAttached_ = false;
  std::unique_ptr<protocol::ZmqSocket> exitPublisher_;
  std::unique_ptr<device::CKeyManager> keyManager_;
  std::unique_ptr<events::CEventRecorder> eventRecorder_;
  peer::TrustBook trustBook_;
  std::unique_ptr<peer::PeerContext> peerContext_;
  std::unique_ptr<core::CWorkThread> respRouter_;
  std::unique_ptr<core::CWorkThread> syncRouter_;
  std::unique_ptr<index::CUsnAllocator> usnAllocator_;
  std::unique_ptr<index::CSyncDirManager> syncDirManager_;
  std::unique_ptr<core::CWorkThread> statusThread_;
  std::unique_ptr<core::CWorkThread> refreshThread_;
  std::unique_ptr<core::CWorkThread> indexThread_;
};

// The one line a started service prints on standard output: who it is,
// where it listens, where its profile and its log are.
std::string StartLine(const config::ConfigValues& values, const std::string& appDir, const std::string& logFile);

// Texts of the start-up messages.
inline constexpr const char* kTextCaption = "Morvex";
inline constexpr const char* kTextAlreadyRunning = core::TrNoop(
    "Morvex is already running: each user can run only one Morvex at a time");
inline constexpr const char* kTextStartFailed = core::TrNoop("Morvex could not start");

}  // namespace morvex::service
