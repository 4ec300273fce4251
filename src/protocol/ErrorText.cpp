#include "protocol/ErrorText.h"

#include <array>

namespace morvex::protocol {

namespace {

// Indexed by error code. Success (0) has no text of its own, and neither do
// the codes from ZE_SYNC_NOEMPTY (18) on; they all fall back to kUnknown.
constexpr std::array<const char*, 18> kTexts = {
    nullptr,              // ZE_SUCCESS
    "general error",      // ZE_GENERAL
    "bad message code",   // ZE_BAD_MSGCODE
    "bad device",         // ZE_BAD_DEVICE
    "bad format",         // ZE_BAD_FORMAT
    "bad tree",           // ZE_BAD_TREE
    "vclock mismatch",    // ZE_VCLOCK_MISMATCH
    "bad syncdir",        // ZE_BAD_SYNCDIR
    "sqlite error",       // ZE_SQLITE
    "object exists",      // ZE_EXIST
    "object not exists",  // ZE_NOENT
    "bad uuid",           // ZE_BAD_UUID
    "peer error",         // ZE_PEER_ERROR
    "syncdir mismatch",   // ZE_SYNCDIR_MISMATCH
    "bad path",           // ZE_BAD_PATH
    "bad part",           // ZE_BAD_PART
    "nested tree",        // ZE_NESTED_TREE
    "sync with myself",   // ZE_SYNC_WITH_SELF
};

constexpr const char* kUnknown = "Ooops! unknown error code";

}  // namespace

const char* ErrorText(int code) noexcept {
  if (code <= 0 || static_cast<unsigned>(code) >= kTexts.size()) {
    return kUnknown;
  }
  return kTexts[static_cast<unsigned>(code)];
}

}  // namespace morvex::protocol
