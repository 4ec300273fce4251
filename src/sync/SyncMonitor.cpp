#include "sync/SyncMonitor.h"

#include "core/BroadcastService.h"

namespace morvex::sync {

CSyncMonitor::CSyncMonitor(int32_t treeId, int32_t syncId, int32_t fileCount, int64_t byteTotal)
    : fileCount_(fileCount), byteTotal_(byteTotal), treeId_(treeId), syncId_(syncId) {
  SendFiles(core::BM_FILES_TOTAL, fileCount_);
  SendBytes(core::BM_BYTES_TOTAL, byteTotal_);
}

CSyncMonitor::~CSyncMonitor() {
  SendBytes(core::BM_BYTES_SKIPPED, byteTotal_ - bytesReceived_);
  SendFiles(core::BM_FILES_LEFT, fileCount_ - filesDone_);
}

void CSyncMonitor::FilesDone(int32_t count) {
  filesDone_ += count;
  SendFiles(core::BM_FILES_DONE, count);
}

void CSyncMonitor::BytesSkipped(int64_t bytes) {
  byteTotal_ -= bytes;
  SendBytes(core::BM_BYTES_SKIPPED, bytes);
}

void CSyncMonitor::BytesReceived(int64_t bytes) {
  bytesReceived_ += bytes;
  SendBytes(core::BM_BYTES_DONE, bytes);
}

void CSyncMonitor::SendFiles(int code, int32_t count) const {
  core::CBroadcastService::Instance().Broadcast(code, core::FileEvent{treeId_, syncId_, count});
}

void CSyncMonitor::SendBytes(int code, int64_t bytes) const {
  core::CBroadcastService::Instance().Broadcast(code, core::ByteEvent{treeId_, syncId_, bytes});
}

}  // namespace morvex::sync
