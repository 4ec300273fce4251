#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "index/FingerPrint.h"
#include "protocol/PeerChannel.h"
#include "protocol/ZmqSocket.h"
#include "sync/FetchFile.h"
#include "sync/PartWriter.h"
#include "sync/SyncMonitor.h"

namespace morvex::sync {

// Who is asked for the data: the conversation with the peer, lent by the
// pass for as long as the fetch runs, and the tree on the peer.
struct FetchPeer {
  protocol::PeerChannel& channel;
  std::string treeUuid;
};

// Flow control of one fetch.
struct FetchLimits {
  int32_t budget = 32 * 1024 * 1024;  // bytes requested and not yet answered, at most
  int32_t partSize = 1024 * 1024;     // bytes per request
  int32_t minRequest = 8 * 1024;      // a smaller remainder of the budget waits for replies
  int32_t silenceMs = 5000;           // a peer silent this long has given up
};

class IDataFetcher {
 public:
  virtual ~IDataFetcher() = default;
  // False only when the peer is unknown or the service is shutting down;
  // the outcome per file shows in the files' flags.
  virtual bool Fetch(const std::vector<IFetchFile*>& files) = 0;
};

// Pulls the contents of a batch of files from one peer into their temporary
// files, with up to `budget` bytes of part requests in flight on one
// connection, writes each part at its offset as it arrives (in any order),
// and marks a file ready only when every part came and the whole file
// hashes to its announced SHA-1. Final files and the database are never
// touched here.
//
// Threads: one fetch on the calling (sync worker) thread; the shutdown
// notice is the only outside signal it watches.
class CFileFetcher final : public IDataFetcher {
 public:
  CFileFetcher(FetchPeer peer, CTransferMonitor* monitor, FetchLimits limits = {});
  CFileFetcher(const CFileFetcher&) = delete;
  CFileFetcher& operator=(const CFileFetcher&) = delete;

  bool Fetch(const std::vector<IFetchFile*>& files) override;

 private:
  struct Transfer {
    IFetchFile* file = nullptr;
    int fd = -1;  // the file's own temporary file, borrowed
    std::map<int64_t, int32_t> parts;  // requested and unanswered: offset -> length
    bool failed = false;               // a part was refused or not written
    // Written and hashed by the part writer; read only after it drained.
    std::unique_ptr<PartSink> sink;
  };

  std::optional<qo::MsgGetRequest> NextRequest();
  void OnPart(const std::string& body);
  void OnPartError(const std::string& body);
  void FinishFiles();
  bool ReleasePart(Transfer& transfer, int32_t index, int64_t offset);

  FetchPeer peer_;
  CTransferMonitor* monitor_;
  FetchLimits limits_;
  std::vector<IFetchFile*> files_;
  std::unordered_map<int32_t, Transfer> transfers_;
  int32_t outstanding_ = 0;
  int32_t cursorFile_ = 0;
  int64_t cursorOffset_ = 0;
  int32_t budget_ = 0;
  std::unique_ptr<CPartWriter> writer_;
};

}  // namespace morvex::sync
