#pragma once

#include <functional>
#include <string>

#include "protocol/ZmqSocket.h"

namespace morvex::index {

// What the indexing threads need from the application: the process's
// ZeroMQ context and this device's UUID (the publisher of change notices).
// Both outlive every indexing thread.
struct IndexContext {
  protocol::ZmqContext& zmq;
  std::function<std::string()> ownUuid;
};

}  // namespace morvex::index
