#include <chrono>
#include <ctime>
#include <functional>
#include <thread>

#include "core/Text.h"
#include "ctl/CommandContext.h"
#include "ctl/Json.h"
#include "device/DeviceQueries.h"
#include "events/EventHistory.h"

// `morvexctl events`: the service's event history, read from the database
// through its owner; with --follow, new rows as they come.
namespace morvex::ctl {
namespace {

std::string LocalTime(int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm local{};
  ::localtime_r(&time, &local);
  char text[32];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) return std::to_string(seconds);
  return text;
}

std::string NameOf(const std::string& uuid) {
  std::string name = uuid;
  if (!uuid.empty()) device::DeviceName(uuid, name);
  return name;
}

Entry EventEntry(const events::EventRow& row, bool json) {
  if (json) {
    return {{"id", std::to_string(row.id), true},
            {"time", std::to_string(row.time), true},
            {"kind", std::string(events::KindName(row.kind))},
            {"device_uuid", row.deviceUuid},
            {"device_name", NameOf(row.deviceUuid)},
            {"detail", row.text}};
  }
  return {{"time", LocalTime(row.time)},
          {"kind", core::Tr(events::KindWords(row.kind))},
          {"device", NameOf(row.deviceUuid)},
          {"detail", row.text}};
}

// The rows after `lastId`, as entries; `lastId` moves to the newest.
std::vector<Entry> EntriesAfter(const Context& context, int64_t& lastId) {
  std::vector<Entry> entries;
  for (const events::EventRow& row : events::EventsAfter(lastId)) {
    entries.push_back(EventEntry(row, context.invocation.json));
    lastId = row.id;
  }
  return entries;
}

}  // namespace

int ShowEvents(Context& context) {
  return ShowEvents(context, [] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return true;
  });
}

int ShowEvents(Context& context, const std::function<bool()>& waitForMore) {
  int64_t lastId = 0;
  const std::vector<Entry> first = EntriesAfter(context, lastId);
  if (!context.invocation.follow) {
    PrintListing(context, EventEntry({}, context.invocation.json), first);
    return kExitOk;
  }
  // Following, JSON is one object per line, so that a reader can act on
  // each event as it comes instead of waiting for a list that never ends.
  const auto printLines = [&](const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) Print(context, {entry}, false);
    context.out.flush();
  };
  if (!context.invocation.json) PrintListing(context, EventEntry({}, false), {});
  printLines(first);
  while (waitForMore()) printLines(EntriesAfter(context, lastId));
  return kExitOk;
}

}  // namespace morvex::ctl
