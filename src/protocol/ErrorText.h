#pragma once

namespace morvex::protocol {

// Text for a qo::ErrorCode value; it goes into the errstr of error replies
// and into the logs, so peers and operators see the same wording.
// Values without a text of their own get "Ooops! unknown error code".
const char* ErrorText(int code) noexcept;

}  // namespace morvex::protocol
