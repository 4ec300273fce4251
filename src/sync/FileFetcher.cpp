#include "sync/FileFetcher.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "index/FingerPrint.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/ProtectedMsg.h"
#include "protocol/WorkerChannel.h"
#include "sync/PartAnswer.h"

namespace morvex::sync {
namespace {

// The longest stretch of one file that a request is cut from.
constexpr int64_t kLargestStretch = 4 * 1024 * 1024;

// The largest frame a peer may send: a whole part (1 MiB) and its envelope,
// with room to spare. Anything larger makes ZeroMQ drop the connection
// instead of holding the frame in memory.
constexpr int64_t kMaxAnswerBytes = 4 * 1024 * 1024;

// The fingerprint of what the descriptor holds, read from its start.
std::optional<std::string> HashOf(int fd) {
  index::CSha1Stream hash;
  std::string buffer(1024 * 1024, '\0');
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return hash.Final();
    if (!hash.Update(buffer.data(), static_cast<size_t>(got))) return std::nullopt;
    offset += got;
  }
}

}  // namespace

CFileFetcher::CFileFetcher(FetchPeer peer, CTransferMonitor* monitor, FetchLimits limits)
    : peer_(std::move(peer)), monitor_(monitor), limits_(limits) {}

bool CFileFetcher::Fetch(const std::vector<IFetchFile*>& files) {
  files_ = files;
  transfers_.clear();
  outstanding_ = 0;
  cursorFile_ = 0;
  cursorOffset_ = 0;
  budget_ = limits_.budget;
  writer_ = std::make_unique<CPartWriter>(static_cast<size_t>(limits_.budget));

  // Without an address nothing could be sent: a DEALER without a peer
  // would hold the requests forever.
  if (!peer_.channel.HasRoute()) {
    LOG(WARNING) << "Remote device offline while try to fetching data";
    return false;
  }
  // Its own DEALER, not the channel's REQ socket: parts are requested many
  // at a time and answered in any order.
  protocol::ZmqSocket dealer = peer_.channel.ConnectDealer(kMaxAnswerBytes);
  protocol::CMsgSender sender = peer_.channel.SenderOn(dealer);
  protocol::ZmqSocket exit = protocol::SubscribeExit(peer_.channel.Context());

  const auto sendMore = [&] {
    while (auto request = NextRequest()) {
      if (!sender.Send(qo::MC_GET_REQUEST, &*request, true)) {
        // Not sent: give the part back as answered so nothing waits for it.
        auto& transfer = transfers_[request->transfer()];
        ReleasePart(transfer, request->transfer(), request->part().offset());
        LOG(ERROR) << "Failed to send MsgGetRequest: " << request->path();
      }
    }
  };
  sendMore();

  while (outstanding_ > 0) {
    const protocol::Wake wake = protocol::WaitForInputOrExit(exit, dealer, limits_.silenceMs);
    if (wake == protocol::Wake::kFailed) {
      LOG(WARNING) << "Interrupted while fetching data";
      break;
    }
    if (wake == protocol::Wake::kTimeout) {
      LOG(ERROR) << "Timeout Occurs while fetching data";
      break;
    }
    if (wake == protocol::Wake::kExit) {
      writer_->Drain();
      transfers_.clear();  // the files own, close and delete their temporary files
      return false;
    }
    protocol::CInMsg reply(peer_.channel.Keys());
    if (!reply.Recv(dealer, true, limits_.silenceMs)) {
      LOG(ERROR) << "Failed to receive part: " << qo::ErrorCode_Name(static_cast<qo::ErrorCode>(reply.ReceiveError()));
      break;
    }
    if (reply.Code() == qo::MC_GET_ERROR) {
      OnPartError(reply.Body());
    } else if (reply.Code() == qo::MC_ERROR) {
      qo::MsgError error;
      if (!error.ParseFromString(reply.Body())) LOG(ERROR) << "bad format";
      LOG(ERROR) << "Server Return error:" << error.errcode() << ": " << error.errstr();
    } else {
      OnPart(reply.Body());
    }
    sendMore();
  }
  FinishFiles();
  return true;
}

std::optional<qo::MsgGetRequest> CFileFetcher::NextRequest() {
  while (cursorFile_ < static_cast<int32_t>(files_.size())) {
    IFetchFile& file = *files_[static_cast<size_t>(cursorFile_)];
    const int64_t remaining = file.Length() - cursorOffset_;
    if (remaining <= 0) {
      ++cursorFile_;
      cursorOffset_ = 0;
      continue;
    }
    const int64_t stretch = std::min(remaining, kLargestStretch);
    int32_t length = 0;
    if (stretch < budget_) {
      length = static_cast<int32_t>(std::min<int64_t>(limits_.partSize, stretch));
    } else if (limits_.partSize < budget_) {
      length = limits_.partSize;
    } else if (budget_ <= limits_.minRequest) {
      return std::nullopt;  // wait for replies to free the budget
    } else {
      length = budget_;
    }
    if (length <= 0) return std::nullopt;

    auto found = transfers_.find(cursorFile_);
    if (found == transfers_.end()) {
      const int fd = file.CreateTemp();
      if (fd < 0) {
        // Logged by the file. Kept as a failed transfer, so that the end of
        // the fetch marks it once, like every other file.
        Transfer refused;
        refused.file = &file;
        refused.failed = true;
        transfers_.emplace(cursorFile_, std::move(refused));
        ++cursorFile_;
        cursorOffset_ = 0;
        continue;
      }
      Transfer transfer;
      transfer.file = &file;
      transfer.fd = fd;
      transfer.sink = std::make_unique<PartSink>();
      transfer.sink->fd = transfer.fd;
      found = transfers_.emplace(cursorFile_, std::move(transfer)).first;
    }
    if (!found->second.parts.emplace(cursorOffset_, length).second) {
      LOG(ERROR) << "Part exists in set: " << cursorFile_ << "," << cursorOffset_;
    }
    budget_ -= length;

    qo::MsgGetRequest request;
    request.set_transfer(cursorFile_);
    request.set_tree_uuid(peer_.treeUuid);
    request.set_path(file.RemotePath());
    request.mutable_part()->set_offset(cursorOffset_);
    request.mutable_part()->set_length(length);
    cursorOffset_ += length;
    ++outstanding_;
    return request;
  }
  return std::nullopt;
}

bool CFileFetcher::ReleasePart(Transfer& transfer, int32_t index, int64_t offset) {
  const auto part = transfer.parts.find(offset);
  if (part == transfer.parts.end()) {
    LOG(ERROR) << "try to remove inexisted part: " << index << "," << offset;
    return false;
  }
  budget_ += part->second;
  transfer.parts.erase(part);
  --outstanding_;
  return true;
}

void CFileFetcher::OnPart(const std::string& body) {
  qo::MsgGetResponse response;
  if (!DecodePartAnswer(body, response)) {
    LOG(ERROR) << "bad format";
    return;
  }
  if (monitor_ != nullptr) monitor_->BytesReceived(static_cast<int64_t>(response.part_data().size()));
  const int64_t offset = response.part().offset();
  const auto found = transfers_.find(response.transfer());
  if (found == transfers_.end()) {
    LOG(ERROR) << "received unexpected part: " << response.transfer() << ":" << offset;
    return;
  }
  Transfer& transfer = found->second;
  const auto part = transfer.parts.find(offset);
  const int32_t requested = part == transfer.parts.end() ? -1 : part->second;
  if (!ReleasePart(transfer, response.transfer(), offset)) return;
  // More than was asked for would spill into the next part; the checksum
  // would refuse the file anyway, so the data is not written at all.
  if (!AnswerFitsPart(response, offset, requested)) {
    LOG(ERROR) << "Part larger than requested: " << response.transfer() << "," << offset;
    transfer.failed = true;
    return;
  }
  if (transfer.fd < 0) return;
  writer_->Write(*transfer.sink, offset, std::move(*response.mutable_part_data()));
}

void CFileFetcher::OnPartError(const std::string& body) {
  qo::MsgGetError error;
  if (!error.ParseFromString(body)) LOG(ERROR) << "bad format";
  const auto found = transfers_.find(error.transfer());
  if (found == transfers_.end()) {
    LOG(ERROR) << "received unexpected part: " << error.transfer();
    return;
  }
  LOG(ERROR) << "Failed to get: " << found->second.file->RemotePath() << ", Offset:" << error.part().offset()
             << " (" << qo::ErrorCode_Name(error.errcode()) << ")";
  // The part is not asked again, so this file cannot become ready.
  found->second.failed = true;
  ReleasePart(found->second, error.transfer(), error.part().offset());
}

void CFileFetcher::FinishFiles() {
  writer_->Drain();
  // The data must be on the disk before any file is renamed into place: one
  // flush of the file system for the whole batch instead of one per file.
  bool flushed = true;
  const auto open = std::find_if(transfers_.begin(), transfers_.end(),
                                 [](const auto& entry) { return entry.second.fd >= 0; });
  if (open != transfers_.end() && ::syncfs(open->second.fd) != 0) {
    LOG(ERROR) << "syncfs() failed[" << errno << "]";
    flushed = false;
  }
  for (size_t i = 0; i < files_.size(); ++i) {
    IFetchFile& file = *files_[i];
    const auto found = transfers_.find(static_cast<int32_t>(i));
    if (found == transfers_.end()) {
      if (file.Length() != 0) {
        file.SetFailed();
      } else if (const int empty = file.CreateTemp(); empty >= 0 && ::fsync(empty) == 0) {
        file.SetReady();
      } else {
        file.SetFailed();
      }
      continue;
    }
    Transfer& transfer = found->second;
    bool good = !transfer.failed && transfer.fd >= 0 && !transfer.sink->writeFailed;
    if (!transfer.parts.empty()) {
      LOG(ERROR) << "Failed to fetch some part: " << file.TempPath();
      good = false;
    }
    if (!flushed) good = false;
    if (good) {
      // Built on the way when every byte came in order; read again
      // otherwise, through this fetch's own descriptor.
      const PartSink& sink = *transfer.sink;
      const bool streamed = !sink.hashBroken && sink.hashed == file.Length() && sink.early.empty();
      const auto actual = streamed ? transfer.sink->hash.Final() : HashOf(transfer.fd);
      if (!actual || *actual != file.Sha1()) {
        LOG(ERROR) << "Sha1 mismatch. expect: " << file.Sha1() << "; actual: " << actual.value_or("")
                   << "; path: " << file.TempPath();
        good = false;
      }
    }
    if (good) {
      file.SetReady();
    } else {
      file.SetFailed();
    }
    transfers_.erase(found);
  }
}

}  // namespace morvex::sync
