// The envelope receive of every message from a peer or a stranger: the
// fuzzer's bytes become the frames of one ZeroMQ message, delivered over a
// real in-process socket pair and received as the plain (CQoMsg) or the
// protected (CInMsg) envelope.
//
// Input: one flag byte (bit 0: protected receive; bit 1: skip a routing
// delimiter as a DEALER does), then up to five length-prefixed frames.
//
// Properties: a receive either succeeds with error 0 or fails with an error;
// a protected message is accepted unsigned only for the open codes, and
// signed only when the signature verifies with the key its code requires;
// after any receive the socket is at a message boundary (nothing of the
// message is left to be taken for the next one).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "protocol/ProtectedMsg.h"
#include "protocol/QoMsg.h"
#include "protocol/SslUtils.h"
#include "protocol/ZmqSocket.h"

namespace morvex::fuzz {
namespace {

constexpr const char* kTrustedPeer = "0f0e0d0c-0b0a-4908-8706-050403020100";
constexpr const char* kKnownStranger = "1f1e1d1c-1b1a-4918-9716-151413121110";
constexpr int kMaxFrames = 5;

// The receiver's key store: its own key, one trusted peer and one device
// that is known but not trusted (both with the peer's key).
class FuzzKeys final : public protocol::IKeyManager {
 public:
  FuzzKeys() : own_(FuzzPrivateKey("own")), peerPublic_(protocol::ssl::PublicDerOfPrivate(FuzzPrivateKey("peer"))) {}
  std::string GetPrivateKey() override { return own_; }
  std::string GetPublicKey(const std::string& uuid, bool trustedOnly) override {
    if (uuid == kTrustedPeer || (!trustedOnly && uuid == kKnownStranger)) return peerPublic_;
    return {};
  }

 private:
  std::string own_;
  std::string peerPublic_;
};

struct Harness {
  Harness() : sender(zmq, ZMQ_PAIR), receiver(zmq, ZMQ_PAIR) {
    QuietLogs();
    receiver.Bind("inproc://fuzz-envelope");
    sender.Connect("inproc://fuzz-envelope");
  }
  // Frames still waiting in the receiver, taken off so the next input
  // starts clean.
  int Leftover() {
    int count = 0;
    for (;;) {
      protocol::ZmqFrame frame;
      if (zmq_msg_recv(frame.Get(), receiver.Handle(), ZMQ_DONTWAIT) < 0) return count;
      ++count;
    }
  }

  protocol::ZmqContext zmq;
  protocol::ZmqSocket sender;
  protocol::ZmqSocket receiver;
  FuzzKeys keys;
};

Harness& Instance() {
  static auto* harness = new Harness();  // lives as long as the process: the fuzzer never returns
  return *harness;
}

void CheckProtected(const protocol::CInMsg& message, FuzzKeys& keys) {
  if (message.Level() == qo::EL_NONE) {
    FUZZ_CHECK(protocol::CInMsg::OpenCode(message.Code()));
    return;
  }
  FUZZ_CHECK(message.Head().has_sign());
  const std::string key = protocol::CInMsg::OwnDeviceCode(message.Code())
                              ? protocol::ssl::PublicDerOfPrivate(keys.GetPrivateKey())
                              : keys.GetPublicKey(message.Head().uuid(), !protocol::CInMsg::HandshakeCode(message.Code()));
  FUZZ_CHECK(!key.empty());
  FUZZ_CHECK(protocol::ssl::RsaKey(key, "").Verify(message.Head().sign(), message.Body()));
}

}  // namespace
}  // namespace morvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvex;
  fuzz::Harness& harness = fuzz::Instance();
  fuzz::ByteReader input(data, size);
  const uint8_t flags = input.Byte();
  const bool isProtected = (flags & 1U) != 0;
  const bool skipDelimiter = (flags & 2U) != 0;
  std::vector<std::string> frames;
  while (!input.Empty() && static_cast<int>(frames.size()) < fuzz::kMaxFrames) frames.push_back(input.Chunk());
  if (frames.empty()) frames.emplace_back();  // a message has at least one frame
  for (size_t i = 0; i < frames.size(); ++i) harness.sender.SendFrame(frames[i], i + 1 < frames.size());

  // Everything was sent before the receive: the wait never runs out.
  constexpr int kWaitMs = 5000;
  if (isProtected) {
    protocol::CInMsg message(harness.keys);
    const bool received = message.Recv(harness.receiver, skipDelimiter, kWaitMs);
    FUZZ_CHECK(received == (message.ReceiveError() == 0));
    if (received) fuzz::CheckProtected(message, harness.keys);
  } else {
    protocol::CQoMsg message;
    const bool received = message.Recv(harness.receiver, skipDelimiter, kWaitMs);
    FUZZ_CHECK(received == (message.ReceiveError() == 0));
    if (received) FUZZ_CHECK(message.Head().IsInitialized());
  }
  FUZZ_CHECK(harness.Leftover() == 0);
  return 0;
}
