#include "protocol/ZmqSocket.h"

#include <cerrno>

#include "Morvex.pb.h"
#include "protocol/ErrorText.h"

namespace morvex::protocol {

ZmqSocket::ZmqSocket(ZmqContext& context, int type) : socket_(zmq_socket(context.Get(), type)) {
  if (socket_ == nullptr) {
    error_ = zmq_errno();
    return;
  }
  SetOption(ZMQ_LINGER, kLingerMs);
}

ZmqSocket& ZmqSocket::operator=(ZmqSocket&& other) noexcept {
  if (this != &other) {
    Close();
    socket_ = std::exchange(other.socket_, nullptr);
    error_ = other.error_;
  }
  return *this;
}

void ZmqSocket::Close() {
  if (socket_ != nullptr) zmq_close(socket_);
  socket_ = nullptr;
}

bool ZmqSocket::Bind(const std::string& endpoint) {
  if (socket_ == nullptr || zmq_bind(socket_, endpoint.c_str()) != 0) {
    error_ = socket_ == nullptr ? ENOTSOCK : zmq_errno();
    return false;
  }
  return true;
}

bool ZmqSocket::Connect(const std::string& endpoint) {
  if (endpoint.empty()) return false;
  if (socket_ == nullptr || zmq_connect(socket_, endpoint.c_str()) != 0) {
    error_ = socket_ == nullptr ? ENOTSOCK : zmq_errno();
    return false;
  }
  return true;
}

bool ZmqSocket::SetOption(int option, const void* value, size_t size) {
  if (socket_ == nullptr || zmq_setsockopt(socket_, option, value, size) != 0) {
    error_ = socket_ == nullptr ? ENOTSOCK : zmq_errno();
    return false;
  }
  return true;
}

bool ZmqSocket::WaitForInput(int timeoutMs) {
  zmq_pollitem_t item{socket_, 0, ZMQ_POLLIN, 0};
  const int ready = zmq_poll(&item, 1, timeoutMs);
  if (ready == 0) {
    error_ = ETIMEDOUT;
    return false;
  }
  if (ready < 0) {
    error_ = zmq_errno();
    return false;
  }
  if ((item.revents & ZMQ_POLLIN) == 0) {
    error_ = ENOTSOCK;
    return false;
  }
  return true;
}

bool ZmqSocket::RecvFrame(ZmqFrame& frame) {
  for (;;) {
    if (zmq_msg_recv(frame.Get(), socket_, 0) >= 0) return true;
    if (zmq_errno() != EINTR) break;
  }
  error_ = zmq_errno();
  return false;
}

bool ZmqSocket::RecvFrames(ZmqFrame& head, ZmqFrame* body, bool skipDelimiter, int timeoutMs) {
  if (!WaitForInput(timeoutMs)) return false;
  if (skipDelimiter) {
    ZmqFrame delimiter;
    if (!RecvFrame(delimiter)) return false;
    // A message of one frame has no head after its delimiter: receiving on
    // would wait, without a time-out, for the next message and take its
    // first frame as this head.
    if (!delimiter.More()) {
      error_ = EPROTO;
      return false;
    }
  }
  if (!RecvFrame(head)) return false;
  if (!head.More()) return true;
  if (body == nullptr) {
    ZmqFrame ignored;
    return RecvFrame(ignored);
  }
  return RecvFrame(*body);
}

bool ZmqSocket::SendFrame(const void* data, size_t size, bool more) {
  for (;;) {
    if (zmq_send(socket_, data, size, more ? ZMQ_SNDMORE : 0) >= 0) return true;
    if (zmq_errno() != EINTR) break;
  }
  error_ = zmq_errno();
  return false;
}

bool ZmqSocket::SendMsg(int code, const google::protobuf::MessageLite* body) {
  qo::MsgHead head;
  head.set_code(static_cast<qo::MsgCode>(code));
  head.set_level(qo::EL_NONE);
  const std::string headBytes = head.SerializeAsString();
  if (body == nullptr) return SendFrame(headBytes, false);
  const std::string bodyBytes = body->SerializeAsString();
  return SendFrame(headBytes, true) && SendFrame(bodyBytes, false);
}

bool ZmqSocket::SendError(int errorCode) {
  qo::MsgError error;
  error.set_errcode(static_cast<qo::ErrorCode>(errorCode));
  error.set_errstr(ErrorText(errorCode));
  return SendMsg(qo::MC_ERROR, &error);
}

bool ZmqSocket::ForwardTo(ZmqSocket& other) {
  ZmqFrame frame;
  if (!RecvFrame(frame)) return false;
  while (frame.More()) {
    other.SendFrame(frame.Data(), frame.Size(), true);
    ZmqFrame next;
    if (!RecvFrame(next)) {
      // Close the half-sent message so the receiver stays at a boundary.
      other.SendFrame(nullptr, 0, false);
      return true;
    }
    zmq_msg_move(frame.Get(), next.Get());
  }
  other.SendFrame(frame.Data(), frame.Size(), false);
  return true;
}

}  // namespace morvex::protocol
