#pragma once

namespace morvex::protocol::endpoints {

// The in-process endpoints. Each is bound by one owner and connected by the
// senders listed; see docs/architecture.md for the full table.
inline constexpr const char* kPubExit = "inproc://pubexit.inproc";      // exit notice (PUB -> every worker)
inline constexpr const char* kInit = "inproc://init.inproc";            // ready notices at start
inline constexpr const char* kStatus = "inproc://status.inproc";        // status poller
inline constexpr const char* kIndexer = "inproc://indexer.inproc";      // incremental indexer
inline constexpr const char* kRefresher = "inproc://refresher.inproc";  // full rescan
inline constexpr const char* kCommand = "inproc://command.inproc";      // response router commands
inline constexpr const char* kRouteResp = "inproc://routeresp.inproc";  // router -> request workers
inline constexpr const char* kSyncer = "inproc://syncer.inproc";        // sync router
inline constexpr const char* kRouteSync = "inproc://routesync.inproc";  // sync router -> sync workers

}  // namespace morvex::protocol::endpoints
