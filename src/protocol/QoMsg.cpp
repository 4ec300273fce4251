#include "protocol/QoMsg.h"

#include <cerrno>

namespace morvex::protocol {

bool CQoMsg::Recv(ZmqSocket& socket, bool skipDelimiter, int timeoutMs) {
  if (!socket.RecvFrames(headFrame_, &body_, skipDelimiter, timeoutMs)) {
    switch (socket.Error()) {
      case ETIMEDOUT:
        error_ = qo::ZE_OPERATE_TIMEOUT;
        break;
      case EPROTO:  // a delimiter without a head
        error_ = qo::ZE_BAD_FORMAT;
        break;
      default:
        error_ = qo::ZE_GENERAL;
    }
    return false;
  }
  hasBody_ = headFrame_.More();
  if (hasBody_ && body_.More()) {
    // Consume the rest so that the next receive starts at a message boundary.
    bool more = true;
    while (more) {
      ZmqFrame extra;
      if (!socket.WaitForInput(kDrainTimeoutMs) || !socket.RecvFrame(extra)) break;
      more = extra.More();
    }
    error_ = qo::ZE_BAD_FORMAT;
    return false;
  }
  if (!head_.ParseFromArray(headFrame_.Data(), static_cast<int>(headFrame_.Size()))) {
    error_ = qo::ZE_BAD_FORMAT;
    return false;
  }
  error_ = 0;
  return true;
}

}  // namespace morvex::protocol
