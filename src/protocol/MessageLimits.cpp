#include "protocol/MessageLimits.h"

#include <glog/logging.h>

#include <unordered_map>
#include <vector>

namespace morvex::protocol::limits {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

// Messages nest a few levels at most; the parser already refuses deeper
// input, this only keeps the walk's own stack bounded.
constexpr int kDeepestNesting = 16;

bool Walk(const Message& message, std::string& why, int depth) {
  if (depth > kDeepestNesting) {
    why = message.GetTypeName() + " nested too deep";
    return false;
  }
  const auto* reflection = message.GetReflection();
  std::vector<const FieldDescriptor*> fields;
  reflection->ListFields(message, &fields);
  for (const FieldDescriptor* field : fields) {
    const bool nested = field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE;
    if (!field->is_repeated()) {
      if (nested && !Walk(reflection->GetMessage(message, field), why, depth + 1)) return false;
      continue;
    }
    const int count = reflection->FieldSize(message, field);
    const int bound = RepeatedFieldBound(field->full_name());
    if (bound >= 0 && count > bound) {
      why = field->full_name() + " holds " + std::to_string(count) + " entries, at most " + std::to_string(bound);
      return false;
    }
    for (int i = 0; nested && i < count; ++i) {
      if (!Walk(reflection->GetRepeatedMessage(message, field, i), why, depth + 1)) return false;
    }
  }
  return true;
}

}  // namespace

int RepeatedFieldBound(const std::string& fullName) {
  static const std::unordered_map<std::string, int> kBounds = {
      // Clocks: each entry is looked up (and on a pass stored) by UUID.
      {"qo.Stat.vclock", kClockEntries},
      {"qo.MsgFindResponse.uuids", kClockEntries},
      {"qo.MsgGetRequest.uuids", kClockEntries},
      {"qo.MsgGetRequest.vclock", kClockEntries},
      // Device lists: each UUID becomes a bound SQL argument.
      {"qo.MsgSyncShowRequest.remote_device_uuids", kDeviceEntries},
      {"qo.MsgListSyncRequest.uuid", kDeviceEntries},
      {"qo.MsgDeviceShowResponse.devices", kDeviceEntries},
      // Relation lists: each entry is compared with every local relation.
      {"qo.MsgStatusResponse.syncs", kRelationEntries},
      {"qo.MsgSyncShowResponse.syncs", kRelationEntries},
      {"qo.MsgListSyncResponse.syncs", kRelationEntries},
      {"qo.MsgPubSyncChange.syncs", kRelationEntries},
  };
  const auto found = kBounds.find(fullName);
  return found == kBounds.end() ? -1 : found->second;
}

bool WithinLimits(const Message& message, std::string& why) { return Walk(message, why, 0); }

bool ParseBounded(Message& message, const void* data, size_t size) {
  if (size > static_cast<size_t>(INT32_MAX) || !message.ParseFromArray(data, static_cast<int>(size))) return false;
  std::string why;
  if (WithinLimits(message, why)) return true;
  LOG(ERROR) << "Refused " << message.GetTypeName() << " as badly formatted: " << why;
  return false;
}

}  // namespace morvex::protocol::limits
