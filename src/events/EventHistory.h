#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvex::events {

// The history keeps the newest rows only: each insert trims the rest.
inline constexpr int64_t kHistoryLimit = 1000;

// One row of the Event table. `kind` is the broadcast code (core::BM_*)
// that made it; `text` is the path, address or count the event names.
struct EventRow {
  int64_t id = 0;
  int64_t time = 0;  // seconds since the epoch
  int kind = 0;
  std::string deviceUuid;
  std::string text;
};

// Appends `row` (its id is ignored) and drops the rows older than the
// newest kHistoryLimit. False when the insert failed.
bool AppendEvent(const EventRow& row);

// The rows with an id above `afterId`, oldest first.
std::vector<EventRow> EventsAfter(int64_t afterId);

// A stable name for scripts ("conflict-copy") and words for people
// ("conflict copy made"); "unknown" for a code the history never writes.
std::string_view KindName(int kind);
const char* KindWords(int kind);  // in English: core::Tr() shows it translated

}  // namespace morvex::events
