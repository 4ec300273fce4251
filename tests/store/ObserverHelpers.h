#pragma once

#include <thread>
#include <vector>

#include "store/ContentObserver.h"
#include "store/ContentResolver.h"

namespace morvex::store {

// Counts its notifications; with a handler, they arrive on the handler's
// thread.
class CountingObserver : public CContentObserver {
 public:
  explicit CountingObserver(core::CHandler* handler = nullptr) : handler_(handler) {}
  std::unique_ptr<CSQLiteCursor> Query() override {
    ++queries;
    return CContentResolver::Instance().Query(uris::Device(), {"COUNT(*)"}, CSelection());
  }
  void OnChange(std::unique_ptr<CSQLiteCursor> cursor) override {
    ++changes;
    threads.push_back(std::this_thread::get_id());
    if (cursor && cursor->MoveToNext()) lastDeviceCount = cursor->GetInt(0);
  }
  core::CHandler* GetHandler() override { return handler_; }

  int queries = 0;
  int changes = 0;
  int lastDeviceCount = -1;
  std::vector<std::thread::id> threads;

 private:
  core::CHandler* handler_;
};

}  // namespace morvex::store
