#include "service/MorvexService.h"

#include <glog/logging.h>
#include <google/protobuf/stubs/common.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <thread>

#include "Morvex.pb.h"
#include "aux/Bookmarks.h"
#include "config/ConfigTable.h"
#include "core/Logging.h"
#include "core/StatusBoard.h"
#include "core/StringPrintf.h"
#include "core/Text.h"
#include "events/EventRecorder.h"
#include "device/Device.h"
#include "index/IndexThread.h"
#include "index/RefreshThread.h"
#include "peer/RespRouter.h"
#include "peer/StatusThread.h"
#include "sync/SyncRouter.h"
#include "platform/BroadcastAddresses.h"
#include "platform/Metadir.h"
#include "platform/ProcessRestart.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/QoMsg.h"
#include "service/TokenSource.h"
#include "store/ContentResolver.h"
#include "store/Schema.h"

namespace morvex::service {

ComponentFactory ComponentFactory::Default() {
  ComponentFactory factory;
  factory.statusThread = [](peer::PeerContext& peer) { return std::make_unique<peer::CStatusThread>(peer); };
  factory.indexThread = [](peer::PeerContext& peer) {
    return std::make_unique<index::CIndexThread>(
        index::IndexContext{peer.zmq, [&config = peer.config] { return config.Snapshot()->deviceUuid; }});
  };
  factory.refreshThread = [](peer::PeerContext& peer) {
    return std::make_unique<index::CRefreshThread>(
        index::IndexContext{peer.zmq, [&config = peer.config] { return config.Snapshot()->deviceUuid; }});
  };
  factory.respRouter = [](peer::PeerContext& peer) { return std::make_unique<peer::CRespRouter>(peer); };
  factory.syncRouter = [](peer::PeerContext& peer) {
    auto router = std::make_unique<sync::CSyncRouter>(peer, std::chrono::seconds(peer.config.Snapshot()->syncInterval));
    router->FollowStoredInterval();
    return router;
  };
  factory.broadcastAddresses = platform::InterfaceBroadcastAddresses;
  factory.firstStart = HeadlessFirstStart;
  factory.confirmReset = AskResetOnTerminal;
  return factory;
}

CMorvexServiceApp::CMorvexServiceApp(std::vector<std::string> arguments, ComponentFactory factory)
    : arguments_(std::move(arguments)), factory_(std::move(factory)) {}

CMorvexServiceApp::~CMorvexServiceApp() {
  if (!exited_) ExitInstance();
}

void CMorvexServiceApp::ReportStartFailure(const std::string& text) {
  std::cerr << kTextCaption << ": " << text << std::endl;
  if (core::LoggingInitialised()) LOG(ERROR) << text;
}

void CMorvexServiceApp::ReportStartFailure(const char* english) {
  std::cerr << kTextCaption << ": " << core::Tr(english) << std::endl;
  if (core::LoggingInitialised()) LOG(ERROR) << english;
}

bool CMorvexServiceApp::InitInstance() {
  metadir_ = platform::DefaultMetadir();
  // Nothing of a rejected command line is used, and no profile is touched
  // for it: main answers --help, --version and mistakes before this.
  const ParsedCommandLine parsed = ParseCommandLine(arguments_);
  if (!parsed.Ok() || parsed.options.action != CommandAction::kRun) {
    ReportStartFailure(parsed.Ok() ? "--help and --version do not start the service" : parsed.error);
    exitCode_ = kExitUsage;
    return false;
  }
  options_ = parsed.options;
  const bool tokenOnCommandLine = options_.token.has_value();
  const TokenChoice token = ChooseToken(options_.token, options_.tokenFile, std::getenv(kTokenEnvironment));
  if (!token.error.empty()) {
    ReportStartFailure(token.error);
    exitCode_ = kExitUsage;
    return false;
  }
  options_.token = token.token;
  if (options_.metadir) metadir_ = *options_.metadir;

  // The log files live in the application folder, so it must exist first.
  const platform::AppDirResult dir = platform::EnsureAppDir(metadir_);
  if (!dir.ok) {
    ReportStartFailure(dir.error);
    return false;
  }
  appDir_ = dir.path;
  core::InitLogging(appDir_, "MorvexService");
  LOG(INFO) << "Initializing Morvex...";
  if (options_.restart) LOG(INFO) << "Restart option detected";
  GOOGLE_PROTOBUF_VERIFY_VERSION;
  // The database holds the identity and the trust: nobody else may be able
  // to swap it.
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const std::string problem = platform::PrivateFileProblem(appDir_ + "/" + store::kDatabaseFileName + suffix);
    if (!problem.empty()) {
      ReportStartFailure(problem);
      return false;
    }
  }

  if (!TakeInstanceLock()) return false;
  if (UpdatedAtStart()) {
    exitCode_ = 0;
    return false;
  }

  if (!store::InitContentFramework(metadir_)) {
    LOG(ERROR) << "Failed to init content framework. ";
    ReportStartFailure(store::MainProvider().InitError());
    return false;
  }
  storeOpen_ = true;

  // A new identity (--create) takes the password given with it.
  if (!tokenOnCommandLine && !options_.create) KeepStoredToken(options_.token);
  {
    config::CKelmConfigManager holder;
    ApplyOptions(options_, holder);
    ConfirmReset confirm = factory_.confirmReset ? factory_.confirmReset : AskResetOnTerminal;
    if (options_.yes) confirm = [] { return true; };
    if (!SetUpDeviceIdentity(holder, options_.create, confirm)) {
      ReportStartFailure(kTextResetNotConfirmed);
      return false;
    }
  }
  const FirstStart firstStart = [this] { return factory_.firstStart ? factory_.firstStart(options_) : 1; };
  if (const int status = CheckOwnDevice(config_, firstStart); status != 0) {
    exitCode_ = status;
    return false;
  }
  device::ResetDevices(config_.Snapshot()->deviceUuid);

  exitPublisher_ = std::make_unique<protocol::ZmqSocket>(context_, ZMQ_PUB);
  exitPublisher_->Bind(protocol::endpoints::kPubExit);
  // The collector lives only for the barrier.
  protocol::ZmqSocket collector(context_, ZMQ_PULL);
  collector.Bind(protocol::endpoints::kInit);

  keyManager_ = std::make_unique<device::CKeyManager>(config_.Snapshot()->privateKey);
  usnAllocator_ = std::make_unique<index::CUsnAllocator>(config_.Snapshot()->deviceUuid);
  index::CUsnAllocator::Install(usnAllocator_.get());
  aux::BookmarkHooks bookmarks = aux::BookmarkHooksFor(options_.headless);
  peerContext_ = std::make_unique<peer::PeerContext>(
      peer::PeerContext{context_, config_, *keyManager_, trustBook_, factory_.broadcastAddresses, appDir_,
                        std::move(bookmarks.added), std::move(bookmarks.removed)});

  // Before any worker: the first rescans report their progress at once.
  core::CStatusBoard::Instance().Clear();
  core::CStatusBoard::Instance().Attach();
  statusBoardAttached_ = true;
  eventRecorder_ = std::make_unique<events::CEventRecorder>(std::cout);
  if (!StartWorker(factory_.statusThread, statusThread_, "Failed to init StatusThread") ||
      !StartWorker(factory_.indexThread, indexThread_, "Faild to init IndexThread.") ||
      !StartWorker(factory_.refreshThread, refreshThread_, "Faild to init RefreshThread.")) {
    return false;
  }
  if (!PassStartupBarrier(collector)) return false;
  if (factory_.respRouter) {
    respRouter_ = factory_.respRouter(*peerContext_);
    respRouter_->Resume();
  }
  if (factory_.syncRouter) {
    syncRouter_ = factory_.syncRouter(*peerContext_);
    syncRouter_->Resume();
  }
  if (factory_.watchTrees) {
    syncDirManager_ = std::make_unique<index::CSyncDirManager>(
        index::IndexContext{context_, [this] { return config_.Snapshot()->deviceUuid; }});
  }

  config_.SetMessageContext(&context_);
  config::ObserveConfig(&config_);
  configObserved_ = true;

  if (syncDirManager_) syncDirManager_->Start();
  LOG(INFO) << "Morvex is running as " << config_.Snapshot()->deviceName << " (" << config_.Snapshot()->deviceUuid
            << "), metadir " << metadir_;
  std::cout << StartLine(*config_.Snapshot(), appDir_, core::LogFilePath()) << std::endl;
  return true;
}

std::string StartLine(const config::ConfigValues& values, const std::string& appDir, const std::string& logFile) {
  return core::StringPrintf(
      core::Tr("Morvex running as \"%s\" (%s), ports %d route, %d publish, %d discovery; profile %s, log %s"),
      values.deviceName.c_str(), values.deviceUuid.c_str(), values.routePort, values.pubPort, values.broadcastPort,
      appDir.c_str(), logFile.c_str());
}

bool CMorvexServiceApp::TakeInstanceLock() {
  const std::string user = platform::CurrentUserName();
  // The option itself, as getopt found it: not a word that merely
  // contains the text (a device name, say, or a word after "--").
  const bool restart = options_.restart;
  using Result = platform::InstanceLock::Result;
  const Result result =
      restart ? instanceLock_.AcquireWaiting(appDir_, user) : instanceLock_.TryAcquire(appDir_, user);
  if (result == Result::kAcquired) return true;
  if (restart) {
    // As with a lock that cannot be made at all: go on without it.
    LOG(WARNING) << "Cannot take the instance lock " << instanceLock_.Path() << ", continuing without it";
    return true;
  }
  ReportStartFailure(result == Result::kAlreadyRunning ? kTextAlreadyRunning : kTextStartFailed);
  return false;
}

bool CMorvexServiceApp::StartWorker(const ComponentFactory::WorkerMaker& maker,
                                    std::unique_ptr<core::CWorkThread>& slot, const char* failure) {
  if (!maker) return true;
  slot = maker(*peerContext_);
  if (!slot) {
    LOG(ERROR) << failure;
    return false;
  }
  slot->Resume();
  return true;
}

bool CMorvexServiceApp::PassStartupBarrier(protocol::ZmqSocket& collector) {
  int expected = 0;
  for (const auto* maker : {&factory_.statusThread, &factory_.indexThread, &factory_.refreshThread}) {
    if (*maker) ++expected;
  }
  for (int i = 0; i < expected; ++i) {
    protocol::CQoMsg ready;
    if (!ready.Recv(collector, false, kBarrierWaitMs)) {
      LOG(ERROR) << "Some thread failed to init within 2s.";
      return false;
    }
    if (ready.Code() == qo::MC_ERROR) {
      LOG(ERROR) << "Some thread failed to init.";
      return false;
    }
  }
  return true;
}

void CMorvexServiceApp::StopWorkers() {
  // Passes first: they still talk to the request workers of the router.
  std::unique_ptr<core::CWorkThread>* order[] = {&syncRouter_, &respRouter_, &statusThread_, &refreshThread_, &indexThread_};
  bool any = false;
  for (auto* slot : order) any = any || *slot != nullptr;
  if (!any) return;
  // A worker whose subscription had not reached the publisher when the
  // notice went out would wait forever; the notice is repeated until every
  // worker has ended.
  using namespace std::chrono_literals;
  const auto publish = [this] {
    if (exitPublisher_) exitPublisher_->SendFrame(nullptr, 0, false);
  };
  publish();
  for (auto* slot : order) {
    if (!*slot) continue;
    while (!(*slot)->Finished()) {
      std::this_thread::sleep_for(20ms);
      if (!(*slot)->Finished()) publish();
    }
    slot->reset();
  }
}

void CMorvexServiceApp::ExitInstance() {
  if (exited_) return;
  exited_ = true;
  if (syncDirManager_) syncDirManager_->Stop();
  if (configObserved_) config::StopObservingConfig(&config_);
  configObserved_ = false;
  StopWorkers();
  if (statusBoardAttached_) core::CStatusBoard::Instance().Detach();
  statusBoardAttached_ = false;
  // After the workers (nothing broadcasts any more), before the store closes.
  eventRecorder_.reset();
  syncDirManager_.reset();
  index::CUsnAllocator::Install(nullptr);
  usnAllocator_.reset();
  peerContext_.reset();
  keyManager_.reset();
  exitPublisher_.reset();
  // Posted work may hold database cursors; they go before the store closes.
  loop_.DiscardPending();
  if (storeOpen_) store::ShutdownContentFramework();
  storeOpen_ = false;
  instanceLock_.Release();
  // Before logging is set up (a start that failed early) this goes to stderr.
  LOG(INFO) << "Exiting Morvex.";
  if (shutdownLibraries_) {
    google::protobuf::ShutdownProtobufLibrary();
    core::ShutdownLogging();
  }
}

int CMorvexServiceApp::Run() { return Run([this] { loop_.Run(); }); }

int CMorvexServiceApp::Run(const std::function<void()>& runLoop) {
  const bool started = InitInstance();
  if (started) runLoop();
  ExitInstance();
  return started ? 0 : exitCode_;
}

bool CMorvexServiceApp::UpdatedAtStart() {
  // Only a distribution that names its update host checks at all; a
  // failure here is silent and the service starts as it is.
  const aux::Deployment deployment = aux::LoadDeployment(appDir_);
  if (deployment.updateHost.empty()) return false;
  aux::UpdateOptions options;
  options.confirm = factory_.confirmUpdate;
  const aux::UpdateCheck check = aux::CheckForUpdate(false, deployment, options);
  LOG(INFO) << "Update check at start: result " << check.result;
  if (!check.restart) return false;
  if (!RestartService()) {
    LOG(ERROR) << "Updated, but the new program could not be started; running on";
    return false;
  }
  std::cout << core::Tr(check.message) << std::endl;
  return true;
}

bool CMorvexServiceApp::RestartService() { return platform::RestartProcess(arguments_); }

}  // namespace morvex::service
