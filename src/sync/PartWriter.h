#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "index/FingerPrint.h"

namespace morvex::sync {

// Where the parts of one download go: its temporary file and its
// fingerprint, built as the bytes arrive. Bytes [0, hashed) are in `hash`;
// parts written beyond that wait in `early` (offset -> length) and are read
// back once the gap before them is filled.
struct PartSink {
  int fd = -1;  // not owned
  index::CSha1Stream hash;
  int64_t hashed = 0;
  std::map<int64_t, int64_t> early;
  bool writeFailed = false;  // some part did not reach the file
  bool hashBroken = false;   // the fingerprint must be taken from the file
};

// Writes file parts and feeds their fingerprints on a thread of its own, so
// that receiving, decrypting and verifying the next parts overlaps with the
// copy into the page cache and the hashing.
//
// Threads: Write and Drain are called by one owner thread. A sink belongs
// to the writer thread from the first Write until the next Drain returns;
// the owner reads or closes it only after Drain.
class CPartWriter {
 public:
  // Write blocks while more than `maxQueuedBytes` wait to be written.
  explicit CPartWriter(size_t maxQueuedBytes = 32 * 1024 * 1024);
  CPartWriter(const CPartWriter&) = delete;
  CPartWriter& operator=(const CPartWriter&) = delete;
  ~CPartWriter();

  void Write(PartSink& sink, int64_t offset, std::string data);
  // Returns once every part handed in so far is written and hashed.
  void Drain();

 private:
  struct Job {
    PartSink* sink;
    int64_t offset;
    std::string data;
  };
  void Run();
  static void WriteAndHash(Job& job);

  const size_t maxQueuedBytes_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;   // guarded by mutex_
  size_t queuedBytes_ = 0;  // guarded by mutex_
  bool busy_ = false;       // guarded by mutex_: a job is being written
  bool stop_ = false;       // guarded by mutex_
  std::thread thread_;
};

}  // namespace morvex::sync
