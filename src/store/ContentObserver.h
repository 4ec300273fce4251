#pragma once

#include <memory>

#include "core/Handler.h"
#include "store/SQLite.h"

namespace morvex::store {

// Told after every committed change of the URI it is registered for.
// Without a handler, Query and OnChange run on the writer's thread inside the
// writer's locks (they may read and write again on that thread, but must not
// wait for another writing thread). With a handler, Query runs at once on
// the writer's thread and OnChange later on the handler's thread.
class CContentObserver {
 public:
  CContentObserver() = default;
  CContentObserver(const CContentObserver&) = delete;
  CContentObserver& operator=(const CContentObserver&) = delete;
  virtual ~CContentObserver() = default;

  virtual std::unique_ptr<CSQLiteCursor> Query() = 0;
  virtual void OnChange(std::unique_ptr<CSQLiteCursor> cursor) = 0;
  virtual core::CHandler* GetHandler() { return nullptr; }
};

// Runs one observer's OnChange with the cursor queried at notification time;
// posted to the observer's handler.
class COnChangeRunable final : public core::IRunnable {
 public:
  COnChangeRunable(CContentObserver* observer, std::unique_ptr<CSQLiteCursor> cursor)
      : observer_(observer), cursor_(std::move(cursor)) {}
  uint32_t Run() override;

 private:
  CContentObserver* observer_;
  std::unique_ptr<CSQLiteCursor> cursor_;
};

}  // namespace morvex::store
