#include "sync/FileFetcher.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "index/FileUtils.h"
#include "index/FingerPrint.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/ProtectedMsg.h"
#include "protocol/WorkerChannel.h"
#include "store/ContentResolver.h"
#include "sync/PartAnswer.h"

namespace morvex::sync {
namespace {

// The longest stretch of one file that a request is cut from.
constexpr int64_t kLargestStretch = 4 * 1024 * 1024;

// Opens (creating or truncating) a temporary file that only its owner may
// read and write. A missing parent folder is made: a new file may arrive
// before the folder that holds it.
platform::UniqueFd CreateTempFile(const std::string& path) {
  // Read access too: parts that arrive early are read back for the hash.
  const int flags = O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
  platform::UniqueFd fd(::open(path.c_str(), flags, 0600));
  if (!fd.Valid() && errno == ENOENT) {
    const std::string parent = std::filesystem::path(path).parent_path().string();
    if (index::MakeDirectory(parent, false)) fd.Reset(::open(path.c_str(), flags, 0600));
  }
  return fd;
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

  const auto route = store::CContentResolver::Instance().QueryStringDup(
      store::uris::Device(), "route_uri", store::CSelection("uuid =  ? ").AddString(peer_.deviceUuid));
  // Without an address nothing could be sent: a DEALER without a peer
  // would hold the requests forever.
  if (!route || route->empty()) {
    LOG(WARNING) << "Remote device offline while try to fetching data";
    return false;
  }
  protocol::ZmqSocket dealer(peer_.zmq, ZMQ_DEALER);
  dealer.Connect(*route);
  protocol::CMsgSender sender(dealer, peer_.ownUuid, peer_.ownPrivateKey, peer_.keys.GetPublicKey(peer_.deviceUuid, true));
  protocol::ZmqSocket exit = protocol::SubscribeExit(peer_.zmq);

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
      transfers_.clear();  // closes the temporary files; their owners delete them
      return false;
    }
    protocol::CInMsg reply(peer_.keys);
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
      platform::UniqueFd fd = CreateTempFile(file.TempPath());
      if (!fd.Valid()) {
        LOG(ERROR) << "CreateFile() failed[" << errno << "]: " << file.TempPath();
        file.SetFailed();
        ++cursorFile_;
        cursorOffset_ = 0;
        continue;
      }
      Transfer transfer;
      transfer.file = &file;
      transfer.fd = std::move(fd);
      transfer.sink = std::make_unique<PartSink>();
      transfer.sink->fd = transfer.fd.Get();
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
  if (!transfer.fd.Valid()) return;
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
  if (!transfers_.empty() && ::syncfs(transfers_.begin()->second.fd.Get()) != 0) {
    LOG(ERROR) << "syncfs() failed[" << errno << "]";
    flushed = false;
  }
  index::CNCancleCacuSha1 neverCancel;
  for (size_t i = 0; i < files_.size(); ++i) {
    IFetchFile& file = *files_[i];
    const auto found = transfers_.find(static_cast<int32_t>(i));
    if (found == transfers_.end()) {
      if (file.Length() != 0) {
        file.SetFailed();
      } else if (platform::UniqueFd empty = CreateTempFile(file.TempPath()); empty.Valid() && ::fsync(empty.Get()) == 0) {
        file.SetReady();
      } else {
        file.SetFailed();
      }
      continue;
    }
    Transfer& transfer = found->second;
    bool good = !transfer.failed && !transfer.sink->writeFailed;
    if (!transfer.parts.empty()) {
      LOG(ERROR) << "Failed to fetch some part: " << file.TempPath();
      good = false;
    }
    if (!flushed) good = false;
    transfer.fd.Reset();
    if (good) {
      // Built on the way when every byte came in order; read again otherwise.
      const PartSink& sink = *transfer.sink;
      const bool streamed = !sink.hashBroken && sink.hashed == file.Length() && sink.early.empty();
      const auto actual = streamed ? transfer.sink->hash.Final() : index::GetSha1(file.TempPath(), neverCancel, 0);
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
