// Full rescan of one folder as the service does it, timed: the first
// rescan (every file new and fingerprinted) and a second one over the
// unchanged folder. Also prints the memory of the rescan's listing per
// entry. Used by bench/rescan.sh.
//   rescan_driver FOLDER METADIR
#include <sys/resource.h>
#include <sys/time.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "index/RefreshThread.h"
#include "index/UsnAllocator.h"
#include "protocol/InprocEndpoints.h"
#include "store/ContentResolver.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace morvex;
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FOLDER METADIR\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  if (!store::InitContentFramework(argv[2])) return 1;
  index::CUsnAllocator usn("bench-device");
  index::CUsnAllocator::Install(&usn);
  index::CreateTree("0d7c8a3e-1b2c-4d5e-8f60-000000000002", folder, "0d7c8a3e-1b2c-4d5e-8f60-000000000003", "bench");
  const index::LocalTree tree = index::LocalTree::ByRoot(folder);
  protocol::ZmqContext zmq;
  protocol::ZmqSocket notices(zmq, ZMQ_PULL);  // change notices land here
  notices.Bind(protocol::endpoints::kCommand);
  index::CRefreshThread refresher(index::IndexContext{zmq, [] { return std::string("bench"); }});
  const index::IgnoreRules rules;

  for (const char* pass : {"first", "second"}) {
    const int64_t usnBefore = store::CContentResolver::Instance().QueryInt64(store::uris::File(), "MAX(usn)", 0, store::CSelection());
    const auto wall = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    refresher.RefreshTree(tree, rules);
    const double wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    const int64_t usnAfter = store::CContentResolver::Instance().QueryInt64(store::uris::File(), "MAX(usn)", 0, store::CSelection());
    std::printf("%s rescan: wall %.3f s, cpu %.3f s, rows written %lld\n", pass, wallSeconds, CpuSeconds() - cpu,
                static_cast<long long>(usnAfter - usnBefore));
  }
  const int rows = store::CContentResolver::Instance().QueryInt(store::uris::File(), "COUNT(*)", 0, store::CSelection());
  // The listing holds one Entry per path; paths longer than the small-string
  // buffer live on the heap (plus the allocator's 16-byte rounding).
  std::printf("entries %d, listing bytes per entry: %zu + path\n", rows, sizeof(index::CRefreshThread::Entry));
  index::CUsnAllocator::Install(nullptr);
  store::ShutdownContentFramework();
  return 0;
}
