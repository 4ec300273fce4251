#pragma once

#include <string>

#include "Morvex.pb.h"
#include "protocol/KeyStore.h"
#include "protocol/QoMsg.h"

namespace morvex::protocol {

// A message received from a peer (or from this device's own tools):
// decrypted when it came encrypted, its sender's key looked up and its
// signature checked before anything else may read it.
class CInMsg : public IQoMsg {
 public:
  explicit CInMsg(IKeyManager& keys) : keys_(keys) {}
  CInMsg(const CInMsg&) = delete;
  CInMsg& operator=(const CInMsg&) = delete;

  // On failure ReceiveError() says why: the receive errors of CQoMsg,
  // ZE_PERMISSION_DENY, ZE_UNTRUSTED or ZE_MSG_TAMPERING.
  bool Recv(ZmqSocket& socket, bool skipDelimiter, int timeoutMs);

  const void* BodyData() const override { return body_.data(); }
  size_t BodySize() const override { return body_.size(); }
  int Level() const override { return head_.level(); }
  bool HasBody() const override { return hasBody_; }
  int Code() const override { return head_.code(); }
  int ReceiveError() const override { return error_; }
  const qo::MsgHead& Head() const { return head_; }
  const std::string& Body() const { return body_; }

  // Codes that travel unsigned (discovery between threads, the own row of
  // the device listing, error replies).
  static bool OpenCode(int code);
  // Codes accepted from any known device, trusted or not (the handshake).
  static bool HandshakeCode(int code);
  // Codes only this device itself may send (maintenance and the local
  // control of its tools): they must be signed with its own key.
  static bool OwnDeviceCode(int code);

 private:
  bool Fail(int error) {
    error_ = error;
    return false;
  }
  bool Succeed() {
    error_ = 0;
    return true;
  }

  IKeyManager& keys_;
  qo::MsgHead head_;
  std::string body_;
  bool hasBody_ = false;
  int error_ = 0;
};

// Sends protected messages on one socket for one conversation: signed when
// this device has a private key, encrypted when the receiver's public key
// is known. Belongs to the socket's thread.
class CMsgSender {
 public:
  CMsgSender(ZmqSocket& socket, std::string ownUuid, std::string ownPrivateDer, std::string peerPublicDer)
      : socket_(socket),
        ownUuid_(std::move(ownUuid)),
        ownPrivateDer_(std::move(ownPrivateDer)),
        peerPublicDer_(std::move(peerPublicDer)) {}

  // Nothing is sent when signing or encryption fails.
  bool Send(int code, const google::protobuf::MessageLite* body, bool withDelimiter);

  // The head and body frames as they would be sent (for tests and sizes).
  bool Build(int code, const google::protobuf::MessageLite* body, std::string& head, std::string& bodyFrame);

 private:
  ZmqSocket& socket_;
  std::string ownUuid_;
  std::string ownPrivateDer_;
  std::string peerPublicDer_;
};

}  // namespace morvex::protocol
