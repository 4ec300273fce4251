#pragma once

#include "protocol/InprocWorker.h"

namespace morvex::index {

// The full rescan's thread ("refresher"): serves
// "inproc://refresher.inproc", where rescan requests and cancels arrive.
// Waits without time limit. Owned by the application object.
class CRefreshThread final : public protocol::CInprocWorker {
 public:
  explicit CRefreshThread(protocol::ZmqContext& context);
  ~CRefreshThread() override { Join(); }
};

}  // namespace morvex::index
