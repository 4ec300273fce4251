#pragma once

#include <cstddef>

#include "Morvex.pb.h"
#include "protocol/MessageLimits.h"
#include "protocol/ZmqSocket.h"

namespace morvex::protocol {

// A received message: a head and an optional body.
class IQoMsg {
 public:
  virtual ~IQoMsg() = default;
  virtual const void* BodyData() const = 0;
  virtual size_t BodySize() const = 0;
  virtual int Level() const = 0;
  virtual bool HasBody() const = 0;
  virtual int Code() const = 0;
  // The ErrorCode the last receive left; 0 after success.
  virtual int ReceiveError() const = 0;

  // Parses the body as `message`; false when it does not parse (including a
  // missing required field) or a repeated field holds more entries than its
  // bound (limits::WithinLimits, logged).
  bool ParseBody(google::protobuf::Message& message) const {
    return limits::ParseBounded(message, BodyData(), BodySize());
  }
};

// A plain received message (in-process traffic, error replies). The body is
// read in place from its frame.
class CQoMsg : public IQoMsg {
 public:
  static constexpr int kDrainTimeoutMs = 5000;

  CQoMsg() = default;
  CQoMsg(const CQoMsg&) = delete;
  CQoMsg& operator=(const CQoMsg&) = delete;

  // Receives one message. On failure ReceiveError() is ZE_OPERATE_TIMEOUT,
  // ZE_GENERAL, or ZE_BAD_FORMAT (more than head and body, a delimiter to
  // skip without a head after it, or a head that does not parse; the extra
  // frames are consumed).
  bool Recv(ZmqSocket& socket, bool skipDelimiter, int timeoutMs);

  const void* BodyData() const override { return body_.Data(); }
  size_t BodySize() const override { return body_.Size(); }
  int Level() const override { return head_.level(); }
  bool HasBody() const override { return hasBody_; }
  int Code() const override { return head_.code(); }
  int ReceiveError() const override { return error_; }
  const qo::MsgHead& Head() const { return head_; }

 private:
  ZmqFrame headFrame_;
  ZmqFrame body_;
  qo::MsgHead head_;
  bool hasBody_ = false;
  int error_ = 0;
};

}  // namespace morvex::protocol
