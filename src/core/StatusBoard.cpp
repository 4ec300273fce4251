#include "core/StatusBoard.h"

#include <chrono>

namespace morvex::core {
namespace {

constexpr int kCodes[] = {BM_FILES_TOTAL, BM_FILES_DONE, BM_FILES_LEFT,      BM_BYTES_TOTAL,
                          BM_BYTES_DONE,  BM_BYTES_SKIPPED, BM_INDEX_BEGIN, BM_INDEX_PROGRESS};

}  // namespace

void PassReport::AddItem(std::string path, std::string reason) {
  ++itemCount;
  if (items.size() < kMaxListed) items.push_back({std::move(path), std::move(reason)});
}

CStatusBoard& CStatusBoard::Instance() {
  static CStatusBoard board;
  return board;
}

void CStatusBoard::Attach() {
  for (const int code : kCodes) CBroadcastService::Instance().Register(code, this);
}

void CStatusBoard::Detach() {
  for (const int code : kCodes) CBroadcastService::Instance().Unregister(code, this);
}

void CStatusBoard::SetSchedule(int32_t syncId, bool running, bool queued) {
  std::lock_guard lock(mutex_);
  RelationStatus& status = relations_[syncId];
  status.running = running;
  status.queued = queued;
}

void CStatusBoard::PassEnded(int32_t syncId, bool ok, int64_t endMs) {
  std::lock_guard lock(mutex_);
  RelationStatus& status = relations_[syncId];
  status.lastPassEnd = endMs;
  status.lastPassOk = ok;
}

void CStatusBoard::SetPassReport(int32_t syncId, PassReport report) {
  std::lock_guard lock(mutex_);
  relations_[syncId].lastPass = std::move(report);
}

std::map<int32_t, RelationStatus> CStatusBoard::Relations() {
  std::lock_guard lock(mutex_);
  return relations_;
}

std::map<int32_t, int64_t> CStatusBoard::Indexing() {
  std::lock_guard lock(mutex_);
  return indexing_;
}

void CStatusBoard::Clear() {
  std::lock_guard lock(mutex_);
  relations_.clear();
  indexing_.clear();
}

bool CStatusBoard::OnReceive(int code, const std::any& parameter) {
  std::lock_guard lock(mutex_);
  switch (code) {
    case BM_FILES_TOTAL:
    case BM_FILES_DONE:
    case BM_FILES_LEFT: {
      const auto* event = std::any_cast<FileEvent>(&parameter);
      if (event == nullptr) return false;
      relations_[event->syncId].pendingFiles += code == BM_FILES_TOTAL ? event->count : -event->count;
      return true;
    }
    case BM_BYTES_TOTAL:
    case BM_BYTES_DONE:
    case BM_BYTES_SKIPPED: {
      const auto* event = std::any_cast<ByteEvent>(&parameter);
      if (event == nullptr) return false;
      RelationStatus& status = relations_[event->syncId];
      if (code == BM_BYTES_TOTAL) {
        if (status.pendingBytes <= 0) {
          // New work: the percentage and the rate count from here.
          status.workBytes = 0;
          status.workStart = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
        }
        status.workBytes += event->bytes;
      }
      status.pendingBytes += code == BM_BYTES_TOTAL ? event->bytes : -event->bytes;
      return true;
    }
    case BM_INDEX_BEGIN:
    case BM_INDEX_PROGRESS: {
      const auto* event = std::any_cast<IndexEvent>(&parameter);
      if (event == nullptr) return false;
      indexing_[event->treeId] += code == BM_INDEX_BEGIN ? event->count : -event->count;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace morvex::core
