#pragma once

#include <any>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "core/BroadcastService.h"
#include "events/EventHistory.h"

namespace morvex::events {

// Keeps the broadcasts the user should be able to look back on in the
// Event table, and says a trust request of us on the service's terminal and
// in the log, with the command that accepts it.
//
// It has no handler: rows are written on the broadcasting thread, so that
// a history read right after a pass already holds that pass's events and
// nothing depends on the main loop running. It writes while the broadcast
// service's lock is held, so nobody may broadcast while holding the store's
// write lock (no observer or batch step does today).
class CEventRecorder final : public core::CBroadcastReceiver {
 public:
  // Registers for every recorded code; `terminal` gets the trust request
  // lines (the service's standard output).
  explicit CEventRecorder(std::ostream& terminal);
  ~CEventRecorder() override;

  bool OnReceive(int code, const std::any& parameter) override;

 private:
  std::ostream& terminal_;
};

// The row a broadcast becomes at time `now`; nothing for a code that is not
// recorded or a parameter of another type.
std::optional<EventRow> ToEventRow(int code, const std::any& parameter, int64_t now);

// The line a trust request prints, naming the command that accepts it: in
// English for the log, translated for the terminal.
std::string TrustRequestNotice(const std::string& deviceName, bool translated = false);

// The line printed when discovery datagrams from `address` are sealed with
// another sync password.
std::string OtherPasswordNotice(const std::string& address, bool translated = false);

}  // namespace morvex::events
