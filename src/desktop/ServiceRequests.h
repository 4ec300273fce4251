// The main window's requests to the service's workers.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/ZmqSocket.h"

namespace morvex::desktop {

// Asks the sync router for a pass over each of these relations (Sync row
// ids), all through one socket; nothing is sent for none. The number of
// requests sent.
int RequestSyncPasses(protocol::ZmqContext& zmq, const std::vector<int32_t>& syncIds);

// Asks the status poller to report to the peers at once.
bool RequestStatusReport(protocol::ZmqContext& zmq);

}  // namespace morvex::desktop
