// Fingerprints the files named on the command line the way the indexer does
// and prints "sha1  path" lines, as sha1sum does, so that bench/fingerprint.sh
// can compare both tools' output and CPU time.
// Run: FingerprintDriver FILE...
#include <glog/logging.h>

#include <cstdio>

#include "index/FingerPrint.h"

int main(int argc, char** argv) {
  FLAGS_logtostderr = true;
  google::InitGoogleLogging(argv[0]);
  morvex::index::CNCancleCacuSha1 never;
  int failed = 0;
  for (int i = 1; i < argc; ++i) {
    const auto sha1 = morvex::index::GetSha1(argv[i], never, 0);
    if (!sha1) {
      std::fprintf(stderr, "%s: cannot fingerprint\n", argv[i]);
      failed = 1;
      continue;
    }
    std::printf("%s  %s\n", sha1->c_str(), argv[i]);
  }
  return failed;
}
