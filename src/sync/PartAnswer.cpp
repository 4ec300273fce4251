#include "sync/PartAnswer.h"

#include "protocol/MessageLimits.h"

namespace morvex::sync {

bool DecodePartAnswer(const std::string& body, qo::MsgGetResponse& answer) {
  return protocol::limits::ParseBounded(answer, body);
}

bool AnswerFitsPart(const qo::MsgGetResponse& answer, int64_t askedOffset, int32_t askedLength) {
  return askedOffset >= 0 && askedLength >= 0 && answer.part().offset() == askedOffset &&
         answer.part_data().size() <= static_cast<size_t>(askedLength);
}

}  // namespace morvex::sync
