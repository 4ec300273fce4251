#pragma once

#include <google/protobuf/message.h>

#include <cstdint>
#include <string>

// How much one received message may make this device hold or do. The frame
// size caps what a peer can make us allocate before anything is parsed; the
// bounds here cap the entries of repeated fields that are acted on one by
// one afterwards (a database lookup, a bound SQL argument, a comparison with
// every local row).
namespace morvex::protocol::limits {

// Records per listing page, the most a requester may ask for (the page size
// every pass uses). A page is still never cut inside a group of records that
// share one USN, so an answer may hold more records than this: the records
// of a removed subtree share one USN. The count of records in a received page
// is therefore bounded only by the frame size.
inline constexpr int32_t kListingPageRecords = 5000;

// Components of one vector clock, and the tree UUIDs that name them. A file
// changed on more trees than this does not exist in practice.
inline constexpr int kClockEntries = 1024;

// Device UUIDs named in one request, and devices in one device list.
inline constexpr int kDeviceEntries = 1024;

// Relations (sync folder pairs) in one list.
inline constexpr int kRelationEntries = 4096;

// The bound of one repeated field by its full name ("qo.Stat.vclock"), or -1
// for a field without one (in-process lists and listings bounded by the
// frame size).
int RepeatedFieldBound(const std::string& fullName);

// True when no repeated field of `message`, at any depth, holds more entries
// than its bound. Otherwise false, with `why` naming the field and its count.
bool WithinLimits(const google::protobuf::Message& message, std::string& why);

// Parses `bytes` into `message` and checks WithinLimits; a message that does
// not parse or breaks a bound is refused with a log line (ERROR).
bool ParseBounded(google::protobuf::Message& message, const void* data, size_t size);
inline bool ParseBounded(google::protobuf::Message& message, const std::string& bytes) {
  return ParseBounded(message, bytes.data(), bytes.size());
}

}  // namespace morvex::protocol::limits
