#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "Morvex.pb.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/InprocWorker.h"
#include "protocol/WorkerChannel.h"
#include "service/MorvexService.h"
#include "support/TempDir.h"

namespace morvex::service {
namespace {

using namespace std::chrono_literals;

// A worker that behaves like the real ones except for what it reports.
class ScriptedWorker final : public protocol::CInprocWorker {
 public:
  enum class Report { kReady, kNothing, kError };
  ScriptedWorker(protocol::ZmqContext& context, const std::string& name, Report report,
                 std::atomic<int>& running)
      : CInprocWorker(context, name, "inproc://scripted-" + name, -1), report_(report), running_(running) {}
  ~ScriptedWorker() override {
    Join();
    if (Finished()) --running_;
  }

 private:
  bool ReportReady() override {
    ++running_;
    if (report_ == Report::kNothing) return true;
    return protocol::PushOnce(Context(), protocol::endpoints::kInit,
                              report_ == Report::kReady ? qo::MC_WIN_WORKER_READY : qo::MC_ERROR);
  }
  Report report_;
  std::atomic<int>& running_;
};

ComponentFactory Scripted(ScriptedWorker::Report third, std::atomic<int>& running) {
  ComponentFactory factory = ComponentFactory::Default();
  auto make = [&running](const char* name, ScriptedWorker::Report report) {
    return [&running, name, report](peer::PeerContext& peer) -> std::unique_ptr<core::CWorkThread> {
      return std::make_unique<ScriptedWorker>(peer.zmq, name, report, running);
    };
  };
  factory.statusThread = make("status", ScriptedWorker::Report::kReady);
  factory.indexThread = make("indexer", ScriptedWorker::Report::kReady);
  factory.refreshThread = make("refresher", third);
  factory.respRouter = nullptr;  // no ports in the machine's own network
  return factory;
}

TEST(StartupBarrier, AllWorkersReadyStartsAndTheExitNoticeStopsThem) {
  test::TempDir metadir;
  std::atomic<int> running{0};
  CMorvexServiceApp app({"morvex", "--headless", "-t", "secret", "-m", metadir.Path()}, Scripted(ScriptedWorker::Report::kReady, running));
  app.SetShutdownLibraries(false);
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(running, 3);
  app.ExitInstance();
  EXPECT_EQ(running, 0);
}

TEST(StartupBarrier, AMissingOrFailedReadyNoticeFailsTheStartWithinAboutASecond) {
  // The identity is made by a first, good start, so that the timed starts
  // below measure the barrier and not the key generation.
  test::TempDir metadir;
  {
    std::atomic<int> running{0};
    CMorvexServiceApp app({"morvex", "--headless", "-t", "secret", "-m", metadir.Path()},
                          Scripted(ScriptedWorker::Report::kReady, running));
    app.SetShutdownLibraries(false);
    ASSERT_TRUE(app.InitInstance());
    app.ExitInstance();
  }
  for (auto report : {ScriptedWorker::Report::kNothing, ScriptedWorker::Report::kError}) {
    std::atomic<int> running{0};
    CMorvexServiceApp app({"morvex", "--headless", "-t", "secret", "-m", metadir.Path()}, Scripted(report, running));
    app.SetShutdownLibraries(false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(app.InitInstance());
    const auto failedAfter = std::chrono::steady_clock::now() - start;
    if (report == ScriptedWorker::Report::kNothing) {
      EXPECT_GE(failedAfter, 900ms);
    }
    EXPECT_LT(failedAfter, 2500ms);
    app.ExitInstance();  // the workers already running end on the exit notice
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(running, 0);
  }
}

}  // namespace
}  // namespace morvex::service
