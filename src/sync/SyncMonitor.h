#pragma once

#include <cstdint>

namespace morvex::sync {

// File-level progress of one pass: what the pass reports as it applies.
class CProgressMonitor {
 public:
  virtual ~CProgressMonitor() = default;
  // `count` files were put in place by one batch.
  virtual void FilesDone(int32_t count) = 0;
  // `bytes` of the announced total need no transfer after all.
  virtual void BytesSkipped(int64_t bytes) = 0;
};

// Byte-level progress of the transfers: what the fetcher reports per part.
// Stopping a fetch is not its business: the fetcher ends on the process's
// exit notice (protocol::SubscribeExit) or a silent peer.
class CTransferMonitor {
 public:
  virtual ~CTransferMonitor() = default;
  virtual void BytesReceived(int64_t bytes) = 0;
};

// Turns one pass's progress into broadcasts carrying the tree and the
// relation. Everything it announces at creation it takes back by its
// destruction, so receivers that add the events up return to zero when no
// pass runs.
//
// Threads: belongs to the pass's worker thread; the broadcasts are delivered
// to the receivers' own threads.
class CSyncMonitor final : public CProgressMonitor, public CTransferMonitor {
 public:
  CSyncMonitor(int32_t treeId, int32_t syncId, int32_t fileCount, int64_t byteTotal);
  CSyncMonitor(const CSyncMonitor&) = delete;
  CSyncMonitor& operator=(const CSyncMonitor&) = delete;
  ~CSyncMonitor() override;

  void FilesDone(int32_t count) override;
  void BytesSkipped(int64_t bytes) override;
  void BytesReceived(int64_t bytes) override;

  int32_t FileCount() const { return fileCount_; }
  int32_t FilesDoneCount() const { return filesDone_; }
  int64_t ByteTotal() const { return byteTotal_; }
  int64_t BytesReceivedCount() const { return bytesReceived_; }

 private:
  void SendFiles(int code, int32_t count) const;
  void SendBytes(int code, int64_t bytes) const;

  int32_t fileCount_;
  int32_t filesDone_ = 0;
  int64_t byteTotal_;
  int64_t bytesReceived_ = 0;
  int32_t treeId_;
  int32_t syncId_;
};

}  // namespace morvex::sync
