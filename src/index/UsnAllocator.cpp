#include "index/UsnAllocator.h"

#include <glog/logging.h>

#include <atomic>

#include "store/ContentResolver.h"

namespace morvex::index {
namespace {
std::atomic<CUsnAllocator*> installed{nullptr};
}

CUsnAllocator::CUsnAllocator(std::string deviceUuid) : deviceUuid_(std::move(deviceUuid)) {
  current_ = limit_ = store::CContentResolver::Instance().QueryInt64(
      store::uris::Usn(), "next_usn", 0, store::CSelection("device_uuid = ? ").AddString(deviceUuid_));
}

int64_t CUsnAllocator::Next() {
  std::lock_guard lock(mutex_);
  if (current_ == limit_) {
    store::CContentValues row;
    row.PutString("device_uuid", deviceUuid_).PutInt64("next_usn", limit_ + kBlock);
    if (store::CContentResolver::Instance().Insert(store::uris::Usn(), row, store::kConflictReplace) <= 0) {
      // Handing out numbers that were not reserved could repeat them after
      // a restart; keep going but say so.
      LOG(ERROR) << "Failed to reserve update sequence numbers above " << limit_;
    }
    limit_ += kBlock;
  }
  return ++current_;
}

void CUsnAllocator::Install(CUsnAllocator* allocator) { installed.store(allocator); }

int64_t GetNextUsn() {
  CUsnAllocator* allocator = installed.load();
  CHECK(allocator != nullptr) << "no USN allocator installed";
  return allocator->Next();
}

}  // namespace morvex::index
