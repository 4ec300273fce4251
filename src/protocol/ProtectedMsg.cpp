#include "protocol/ProtectedMsg.h"

#include <glog/logging.h>

#include "protocol/SslUtils.h"

namespace morvex::protocol {

bool CInMsg::OpenCode(int code) {
  switch (code) {
    case qo::MC_ERROR:
    case qo::MC_DISCOVER:  // in-process only: the router refuses it on the route port
    case qo::MC_DEVICE_ADD_RESPONSE:
    case qo::MC_DEVICE_SHOW_REQUEST:
    case qo::MC_DEVICE_SHOW_RESPONSE:
    case qo::MC_TEST_TRUST_RESPONSE:
      return true;
    default:
      return false;
  }
}

bool CInMsg::HandshakeCode(int code) {
  return code == qo::MC_TRUST_PUBLISH_REQUEST || (code >= qo::MC_TRUST_REQUEST && code <= qo::MC_TRUST_CANCEL_RESPONSE);
}

bool CInMsg::OwnDeviceCode(int code) {
  switch (code) {
    case qo::MC_DATABASE_CLEAR_REQUEST:
    case qo::MC_DEVICE_ADD_REQUEST:  // a row added by hand, never by another host
    case qo::MC_TEST_TRUST_REQUEST:
    case qo::MC_LINUX_TRUST_PUBLISH_REQUEST:
    case qo::MC_LINUX_TRUST_REQUEST:
    case qo::MC_LINUX_TRUST_CANCEL_REQUEST:
    case qo::MC_LINUX_STATUS_REQUEST:
    case qo::MC_LINUX_CONFIG_SET_REQUEST:
    case qo::MC_WIN_SYNC_DELETE_REQUEST:
      return true;
    default:
      return false;
  }
}

bool CInMsg::Recv(ZmqSocket& socket, bool skipDelimiter, int timeoutMs) {
  CQoMsg plain;
  if (!plain.Recv(socket, skipDelimiter, timeoutMs)) return Fail(plain.ReceiveError());
  head_ = plain.Head();
  hasBody_ = plain.HasBody();
  body_.assign(static_cast<const char*>(plain.BodyData()), plain.BodySize());

  if (head_.level() == qo::EL_NONE) return OpenCode(head_.code()) ? Succeed() : Fail(qo::ZE_PERMISSION_DENY);
  if (!head_.has_sign()) return Fail(qo::ZE_PERMISSION_DENY);

  if (hasBody_ && head_.level() == qo::EL_ENCRYPT) {
    std::string bodyKey;
    if (!ssl::RsaKey("", keys_.GetPrivateKey()).Decrypt(head_.key(), bodyKey) || bodyKey.size() != ssl::kAesKeySize) {
      LOG(ERROR) << "Failed to rsa decrypt aes key";
      return Fail(qo::ZE_PERMISSION_DENY);
    }
    std::string clear;
    if (!ssl::AesCipher(bodyKey).Decrypt(body_, clear)) {
      LOG(ERROR) << "Failed to aes decrypt msg body";
      return Fail(qo::ZE_PERMISSION_DENY);
    }
    body_ = std::move(clear);
  }

  std::string senderKey;
  if (OwnDeviceCode(head_.code())) {
    // Whatever UUID the head names, only this device's own key will do.
    senderKey = ssl::PublicDerOfPrivate(keys_.GetPrivateKey());
    if (senderKey.empty()) return Fail(qo::ZE_PERMISSION_DENY);
    if (!ssl::RsaKey(senderKey, "").Verify(head_.sign(), body_)) return Fail(qo::ZE_PERMISSION_DENY);
    return Succeed();
  }
  senderKey = keys_.GetPublicKey(head_.uuid(), !HandshakeCode(head_.code()));
  const ssl::RsaKey sender(senderKey, "");
  if (!sender.Valid()) {
    // Any stranger on the network can cause this; the refusal is the answer.
    LOG(INFO) << "Ooops! inexisting public key";
    return Fail(qo::ZE_UNTRUSTED);
  }
  if (!sender.Verify(head_.sign(), body_)) {
    LOG(ERROR) << "Msg sign mismatch";
    return Fail(qo::ZE_MSG_TAMPERING);
  }
  return Succeed();
}

bool CMsgSender::Build(int code, const google::protobuf::MessageLite* body, std::string& headBytes,
                       std::string& bodyFrame) {
  bodyFrame = body != nullptr ? body->SerializeAsString() : std::string();
  qo::MsgHead head;
  head.set_code(static_cast<qo::MsgCode>(code));
  head.set_uuid(ownUuid_);
  head.set_level(qo::EL_NONE);
  if (!ownPrivateDer_.empty()) {
    std::string signature;
    if (!ssl::RsaKey("", ownPrivateDer_).Sign(bodyFrame, signature)) {
      LOG(ERROR) << "Failed to digest message body";
      return false;
    }
    head.set_sign(signature);
    head.set_level(qo::EL_AUTH);
  }
  if (!peerPublicDer_.empty()) {
    const ssl::AesCipher cipher;
    std::string encrypted;
    if (!cipher.Encrypt(bodyFrame, encrypted)) {
      LOG(ERROR) << "Failed to Aes encrypt message body";
      return false;
    }
    std::string wrapped;
    if (!ssl::RsaKey(peerPublicDer_, "").Encrypt(cipher.Key(), wrapped)) {
      LOG(ERROR) << "Failed to ras encrypt aes key";
      return false;
    }
    head.set_key(wrapped);
    head.set_level(qo::EL_ENCRYPT);
    bodyFrame = std::move(encrypted);
  }
  headBytes = head.SerializeAsString();
  return true;
}

bool CMsgSender::Send(int code, const google::protobuf::MessageLite* body, bool withDelimiter) {
  std::string head;
  std::string bodyFrame;
  if (!Build(code, body, head, bodyFrame)) return false;
  if (withDelimiter) socket_.SendFrame(nullptr, 0, true);
  if (body == nullptr) return socket_.SendFrame(head, false);
  socket_.SendFrame(head, true);
  return socket_.SendFrame(bodyFrame, false);
}

}  // namespace morvex::protocol
