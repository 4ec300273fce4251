// Latency from a file's close to the change notice for peers, through the
// real watcher, watch manager (2 s flush) and indexer. Prints one line per
// file written: the time from close to MC_PUB_FILE_CHANGE.
//   latency_driver FOLDER METADIR [FILES] [BYTES]
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "Morvex.pb.h"
#include "index/IndexThread.h"
#include "index/SyncDirManager.h"
#include "index/Tree.h"
#include "index/UsnAllocator.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/QoMsg.h"
#include "store/ContentResolver.h"

int main(int argc, char** argv) {
  using namespace morvex;
  using Clock = std::chrono::steady_clock;
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER METADIR [FILES] [BYTES]\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const int files = argc > 3 ? std::atoi(argv[3]) : 5;
  const size_t bytes = argc > 4 ? static_cast<size_t>(std::atoll(argv[4])) : 1024;
  if (!store::InitContentFramework(argv[2])) return 1;
  index::CUsnAllocator usn("bench-device");
  index::CUsnAllocator::Install(&usn);
  index::CreateTree("0d7c8a3e-1b2c-4d5e-8f60-000000000002", folder, "0d7c8a3e-1b2c-4d5e-8f60-000000000003", "bench");

  protocol::ZmqContext zmq;
  protocol::ZmqSocket exit(zmq, ZMQ_PUB);
  exit.Bind(protocol::endpoints::kPubExit);
  protocol::ZmqSocket ready(zmq, ZMQ_PULL);
  ready.Bind(protocol::endpoints::kInit);
  protocol::ZmqSocket notices(zmq, ZMQ_PULL);
  notices.Bind(protocol::endpoints::kCommand);
  protocol::ZmqSocket rescans(zmq, ZMQ_PULL);  // the manager's rescan request lands here
  rescans.Bind(protocol::endpoints::kRefresher);
  const index::IndexContext context{zmq, [] { return std::string("bench"); }};
  index::CIndexThread indexer(context);
  indexer.Resume();
  protocol::CQoMsg started;
  started.Recv(ready, false, 2000);
  index::CSyncDirManager manager(context);
  manager.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  const std::string content(bytes, 'x');
  for (int i = 0; i < files; ++i) {
    {
      std::ofstream out(folder + "/file" + std::to_string(i), std::ios::binary);
      out << content;
    }
    const auto closed = Clock::now();
    protocol::CQoMsg notice;
    const bool got = notice.Recv(notices, false, 10000);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - closed).count();
    std::printf("file %d (%zu bytes): %s %.0f ms\n", i, bytes, got ? "notice after" : "no notice within", ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // land at different points of the flush period
  }
  manager.Stop();
  while (!indexer.Finished()) {
    exit.SendFrame(nullptr, 0, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  index::CUsnAllocator::Install(nullptr);
  store::ShutdownContentFramework();
  return 0;
}
