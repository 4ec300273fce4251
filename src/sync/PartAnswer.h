#pragma once

#include <cstdint>
#include <string>

#include "Morvex.pb.h"

// A part answer as the fetcher reads it from the peer, and the check that
// decides whether its data may be written.
namespace morvex::sync {

// Parses an MC_GET_RESPONSE body; false when it does not parse.
bool DecodePartAnswer(const std::string& body, qo::MsgGetResponse& answer);

// Whether the data of `answer` may be written for the part that was asked
// at `askedOffset` for `askedLength` bytes: it must name that offset, and it
// may be shorter than asked (the file shrank; the checksum refuses the file
// later) but never longer, which would spill into the next part.
bool AnswerFitsPart(const qo::MsgGetResponse& answer, int64_t askedOffset, int32_t askedLength);

}  // namespace morvex::sync
