#include "protocol/ProtectedMsg.h"

#include <gtest/gtest.h>

#include <map>

#include "protocol/SslUtils.h"

namespace morvex::protocol {
namespace {

constexpr const char* kSelf = "00000000-0000-4000-8000-000000000001";
constexpr const char* kTrusted = "00000000-0000-4000-8000-000000000002";
constexpr const char* kKnown = "00000000-0000-4000-8000-000000000003";
constexpr const char* kUnknown = "00000000-0000-4000-8000-000000000004";
constexpr const char* kBadKey = "00000000-0000-4000-8000-000000000005";

// The receiving device's key store: itself, one trusted and one merely
// known device. The unknown device has keys but is in no table.
class FakeKeys : public IKeyManager {
 public:
  std::string GetPrivateKey() override { return Pair(kSelf).privateDer; }
  std::string GetPublicKey(const std::string& uuid, bool trustedOnly) override {
    if (uuid == kSelf || uuid == kTrusted) return Pair(uuid).publicDer;
    if (uuid == kKnown && !trustedOnly) return Pair(uuid).publicDer;
    if (uuid == kBadKey) return "stored key that does not parse";
    return {};
  }
  static const ssl::KeyPairDer& Pair(const std::string& uuid) {
    static std::map<std::string, ssl::KeyPairDer> pairs;
    auto it = pairs.find(uuid);
    if (it == pairs.end()) it = pairs.emplace(uuid, ssl::GenerateKeyPair()).first;
    return it->second;
  }
};

class ProtectedMsgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pull_.Bind("inproc://protected-test"));
    ASSERT_TRUE(push_.Connect("inproc://protected-test"));
  }
  // Sends `code` from `sender` (signed with its key, encrypted for this
  // device when `encrypt`) and returns the receive error (0: accepted).
  int Exchange(const char* sender, int code, bool sign, bool encrypt, std::string* received = nullptr) {
    qo::MsgStatusRequest body;
    body.set_device_uuid("payload");
    CMsgSender out(push_, sender, sign ? FakeKeys::Pair(sender).privateDer : "",
                   encrypt ? FakeKeys::Pair(kSelf).publicDer : "");
    EXPECT_TRUE(out.Send(code, &body, false));
    CInMsg in(keys_);
    in.Recv(pull_, false, 1000);
    if (received != nullptr) *received = in.Body();
    return in.ReceiveError();
  }

  FakeKeys keys_;
  ZmqContext context_;
  ZmqSocket pull_{context_, ZMQ_PULL};
  ZmqSocket push_{context_, ZMQ_PUSH};
};

TEST_F(ProtectedMsgTest, LevelCodeAndSenderDecideAcceptance) {
  struct Case {
    const char* sender;
    int code;
    bool sign;
    bool encrypt;
    int expected;
  };
  const Case cases[] = {
      {kTrusted, qo::MC_STATUS_REQUEST, true, true, 0},
      {kTrusted, qo::MC_STATUS_REQUEST, true, false, 0},  // EL_AUTH: plain body, checked
      {kTrusted, qo::MC_STATUS_REQUEST, false, false, qo::ZE_PERMISSION_DENY},
      {kTrusted, qo::MC_DEVICE_SHOW_REQUEST, false, false, 0},
      {kKnown, qo::MC_TRUST_REQUEST, true, true, 0},
      {kKnown, qo::MC_STATUS_REQUEST, true, true, qo::ZE_UNTRUSTED},
      {kKnown, qo::MC_TRUST_PUBLISH_RESPONSE, true, true, qo::ZE_UNTRUSTED},
      {kUnknown, qo::MC_TRUST_PUBLISH_REQUEST, true, true, qo::ZE_UNTRUSTED},
      {kBadKey, qo::MC_STATUS_REQUEST, true, true, qo::ZE_UNTRUSTED},
      // Maintenance codes: only this device's own key opens them.
      {kUnknown, qo::MC_DATABASE_CLEAR_REQUEST, false, false, qo::ZE_PERMISSION_DENY},
      {kTrusted, qo::MC_DATABASE_CLEAR_REQUEST, true, true, qo::ZE_PERMISSION_DENY},
      {kTrusted, qo::MC_TEST_TRUST_REQUEST, true, false, qo::ZE_PERMISSION_DENY},
      {kSelf, qo::MC_DATABASE_CLEAR_REQUEST, true, true, 0},
      {kSelf, qo::MC_TEST_TRUST_REQUEST, true, false, 0},
      // Device rows are added with this device's own key alone.
      {kUnknown, qo::MC_DEVICE_ADD_REQUEST, false, false, qo::ZE_PERMISSION_DENY},
      {kTrusted, qo::MC_DEVICE_ADD_REQUEST, true, true, qo::ZE_PERMISSION_DENY},
      {kSelf, qo::MC_DEVICE_ADD_REQUEST, true, true, 0},
      // Settings change with this device's own key alone: a trusted peer may
      // not rename it, move its ports or change its password.
      {kTrusted, qo::MC_LINUX_CONFIG_SET_REQUEST, true, true, qo::ZE_PERMISSION_DENY},
      {kSelf, qo::MC_LINUX_CONFIG_SET_REQUEST, true, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sender) + " code " + std::to_string(c.code));
    std::string body;
    EXPECT_EQ(Exchange(c.sender, c.code, c.sign, c.encrypt, &body), c.expected);
    if (c.expected == 0) {
      qo::MsgStatusRequest parsed;
      ASSERT_TRUE(parsed.ParseFromString(body));
      EXPECT_EQ(parsed.device_uuid(), "payload");
    }
  }
}

TEST_F(ProtectedMsgTest, TamperedMessagesAreRefused) {
  qo::MsgStatusRequest body;
  body.set_device_uuid(std::string(40, 'p'));  // three cipher blocks
  CMsgSender out(push_, kTrusted, FakeKeys::Pair(kTrusted).privateDer, FakeKeys::Pair(kSelf).publicDer);
  std::string head, cipher;
  ASSERT_TRUE(out.Build(qo::MC_STATUS_REQUEST, &body, head, cipher));

  // A flipped byte in the last cipher block garbles the padding block (it
  // still decrypts once in 256 times, and then the signature fails); one in
  // the first block survives decryption but not the signature.
  std::string lastBlock = cipher;
  lastBlock.back() ^= 1;
  std::string firstBlock = cipher;
  firstBlock[0] ^= 1;
  qo::MsgHead otherSignature;
  otherSignature.ParseFromString(head);
  std::string signature;
  ssl::RsaKey("", FakeKeys::Pair(kTrusted).privateDer).Sign("other bytes", signature);
  otherSignature.set_sign(signature);

  struct Case {
    std::string head;
    std::string body;
    int expected;
  };
  const Case cases[] = {
      {head, lastBlock, qo::ZE_PERMISSION_DENY},
      {head, firstBlock, qo::ZE_MSG_TAMPERING},
      {otherSignature.SerializeAsString(), cipher, qo::ZE_MSG_TAMPERING},
  };
  for (const Case& c : cases) {
    push_.SendFrame(c.head, true);
    push_.SendFrame(c.body, false);
    CInMsg in(keys_);
    EXPECT_FALSE(in.Recv(pull_, false, 1000));
    if (c.expected == qo::ZE_PERMISSION_DENY) {
      EXPECT_TRUE(in.ReceiveError() == qo::ZE_PERMISSION_DENY || in.ReceiveError() == qo::ZE_MSG_TAMPERING);
    } else {
      EXPECT_EQ(in.ReceiveError(), c.expected);
    }
  }
}

TEST_F(ProtectedMsgTest, TheWorkedStatusRequestHeadIs560Bytes) {
  qo::MsgStatusRequest body;
  body.set_device_uuid(kSelf);
  CMsgSender out(push_, kTrusted, FakeKeys::Pair(kTrusted).privateDer, FakeKeys::Pair(kSelf).publicDer);
  std::string head, cipher;
  ASSERT_TRUE(out.Build(qo::MC_STATUS_REQUEST, &body, head, cipher));
  ASSERT_EQ(head.size(), 560u);
  EXPECT_EQ(head.substr(0, 6), std::string("\x08\x09\x10\x02\x1a\x24", 6));
  EXPECT_EQ(head.substr(42, 3), "\x22\x80\x02");
  EXPECT_EQ(head.substr(301, 3), "\x2a\x80\x02");
  EXPECT_EQ(cipher.size() % 16, 0u);
  // A key that does not parse: nothing is sent.
  CMsgSender broken(push_, kTrusted, "not a key", "");
  EXPECT_FALSE(broken.Send(qo::MC_STATUS_REQUEST, &body, false));
  EXPECT_FALSE(pull_.WaitForInput(50));
}

}  // namespace
}  // namespace morvex::protocol
