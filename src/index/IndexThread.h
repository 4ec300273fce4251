#pragma once

#include "protocol/InprocWorker.h"

namespace morvex::index {

// The incremental indexer's thread ("indexer"): serves
// "inproc://indexer.inproc", where directory changes and its retry tick
// arrive. Waits without time limit. Owned by the application object.
class CIndexThread final : public protocol::CInprocWorker {
 public:
  explicit CIndexThread(protocol::ZmqContext& context);
  ~CIndexThread() override { Join(); }
};

}  // namespace morvex::index
