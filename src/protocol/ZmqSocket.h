#pragma once

#include <zmq.h>

#include <string>
#include <utility>

namespace google::protobuf {
class MessageLite;
}

namespace morvex::protocol {

// The process's one ZeroMQ context. Destroying it waits until every socket
// is closed; each socket's linger bounds how long unsent messages hold it.
class ZmqContext {
 public:
  ZmqContext() : context_(zmq_ctx_new()) {}
  ZmqContext(const ZmqContext&) = delete;
  ZmqContext& operator=(const ZmqContext&) = delete;
  ~ZmqContext() {
    if (context_ != nullptr) zmq_ctx_term(context_);
  }
  void* Get() const { return context_; }

 private:
  void* context_;
};

// One frame of a multi-part message; closed when destroyed.
class ZmqFrame {
 public:
  ZmqFrame() { zmq_msg_init(&message_); }
  ZmqFrame(const ZmqFrame&) = delete;
  ZmqFrame& operator=(const ZmqFrame&) = delete;
  ~ZmqFrame() { zmq_msg_close(&message_); }

  zmq_msg_t* Get() { return &message_; }
  const void* Data() const { return zmq_msg_data(const_cast<zmq_msg_t*>(&message_)); }
  size_t Size() const { return zmq_msg_size(&message_); }
  bool More() const { return zmq_msg_more(&message_) != 0; }
  std::string ToString() const { return {static_cast<const char*>(Data()), Size()}; }

 private:
  zmq_msg_t message_;
};

// A move-only owner of one ZeroMQ socket. Every socket gets a linger of
// 2500 ms before it is bound or connected. Operations record the last error
// number in Error() instead of throwing: ETIMEDOUT for a receive that timed
// out, ENOTSOCK for a poll that ended without input, zmq_errno() otherwise.
//
// Threads: a socket, and every message received on it, belongs to the one
// thread that created it.
class ZmqSocket {
 public:
  static constexpr int kLingerMs = 2500;

  ZmqSocket() = default;
  ZmqSocket(ZmqContext& context, int type);
  ZmqSocket(ZmqSocket&& other) noexcept
      : socket_(std::exchange(other.socket_, nullptr)), error_(other.error_) {}
  ZmqSocket& operator=(ZmqSocket&& other) noexcept;
  ZmqSocket(const ZmqSocket&) = delete;
  ZmqSocket& operator=(const ZmqSocket&) = delete;
  ~ZmqSocket() { Close(); }

  // A failed bind or connect is recorded and otherwise left to the caller.
  bool Bind(const std::string& endpoint);
  // An empty endpoint is not connected at all.
  bool Connect(const std::string& endpoint);
  bool SetOption(int option, const void* value, size_t size);
  bool SetOption(int option, int value) { return SetOption(option, &value, sizeof value); }
  bool Subscribe(const std::string& prefix = {}) { return SetOption(ZMQ_SUBSCRIBE, prefix.data(), prefix.size()); }
  void Close();

  void* Handle() const { return socket_; }
  bool Valid() const { return socket_ != nullptr; }
  int Error() const { return error_; }
  void SetError(int error) { error_ = error; }

  // Waits up to timeoutMs (-1: no limit) for input.
  bool WaitForInput(int timeoutMs);
  // Receives head and, when one follows, body; with a null body a following
  // frame is received and discarded. skipDelimiter drops the first frame; a
  // message of that frame alone fails with EPROTO.
  bool RecvFrames(ZmqFrame& head, ZmqFrame* body, bool skipDelimiter, int timeoutMs);
  bool RecvFrame(ZmqFrame& frame);
  bool SendFrame(const void* data, size_t size, bool more);
  bool SendFrame(const std::string& bytes, bool more) { return SendFrame(bytes.data(), bytes.size(), more); }

  // In-process send: a head {code, EL_NONE} and the body when there is one.
  bool SendMsg(int code, const google::protobuf::MessageLite* body = nullptr);
  // MC_ERROR with MsgError {code, its text}.
  bool SendError(int errorCode);
  // Moves one whole multi-part message to `other`.
  bool ForwardTo(ZmqSocket& other);

 private:
  void* socket_ = nullptr;
  int error_ = 0;
};

}  // namespace morvex::protocol
