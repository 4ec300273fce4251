#include "protocol/PeerChannel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include "protocol/SslUtils.h"

namespace morvex::protocol {
namespace {

constexpr const char* kSelf = "00000000-0000-4000-8000-000000000001";
constexpr const char* kPeer = "00000000-0000-4000-8000-000000000002";
constexpr const char* kEndpoint = "inproc://peer-channel-test";

const ssl::KeyPairDer& Pair(const std::string& uuid) {
  static std::map<std::string, ssl::KeyPairDer> pairs;
  auto it = pairs.find(uuid);
  if (it == pairs.end()) it = pairs.emplace(uuid, ssl::GenerateKeyPair()).first;
  return it->second;
}

// The asking device's key store: itself and the peer it asks.
class SelfKeys : public IKeyManager {
 public:
  std::string GetPrivateKey() override { return Pair(kSelf).privateDer; }
  std::string GetPublicKey(const std::string& uuid, bool) override {
    return uuid == kSelf || uuid == kPeer ? Pair(uuid).publicDer : std::string();
  }
};

// What the peer does with each request it gets, in order.
enum class Act { kAnswer, kRefuse, kIgnore };

// A peer on a ROUTER socket that reads each request whole (unchecked: the
// envelope has tests of its own) and acts on it by the script, on its own
// thread; a request it ignores leaves the asker waiting.
class ScriptedPeer {
 public:
  ScriptedPeer(ZmqContext& zmq, std::vector<Act> script) : router_(zmq, ZMQ_ROUTER) {
    EXPECT_TRUE(router_.Bind(kEndpoint));
    thread_ = std::thread([this, script = std::move(script)] {
      for (const Act act : script) {
        ZmqFrame identity;
        if (!router_.WaitForInput(5000) || !router_.RecvFrame(identity)) return;
        for (bool more = identity.More(); more;) {
          ZmqFrame part;
          router_.RecvFrame(part);
          more = part.More();
        }
        ++requests_;
        if (act == Act::kIgnore) continue;
        router_.SendFrame(identity.Data(), identity.Size(), true);
        if (act == Act::kRefuse) {
          router_.SendFrame(nullptr, 0, true);
          router_.SendError(qo::ZE_UNTRUSTED);
          continue;
        }
        qo::MsgStatusResponse response;
        qo::SyncInfo* sync = response.add_syncs();
        sync->set_local_tree_uuid("tree");
        sync->set_remote_device_uuid(kSelf);
        sync->set_remote_tree_uuid("their tree");
        sync->set_remote_tree_root("/their/root");
        CMsgSender(router_, kPeer, Pair(kPeer).privateDer, Pair(kSelf).publicDer)
            .Send(qo::MC_STATUS_RESPONSE, &response, true);
      }
    });
  }
  ~ScriptedPeer() { thread_.join(); }
  int Requests() const { return requests_; }

 private:
  ZmqSocket router_;
  std::thread thread_;
  std::atomic<int> requests_ = 0;
};

class PeerChannelTest : public ::testing::Test {
 protected:
  PeerChannel Channel(const std::string& route) {
    return PeerChannel(zmq_, route, {kSelf, Pair(kSelf).privateDer}, Pair(kPeer).publicDer, keys_);
  }
  PeerReply AskStatus(PeerChannel& channel, int waitMs) {
    qo::MsgStatusRequest ask;
    ask.set_device_uuid(kSelf);
    return channel.Ask(qo::MC_STATUS_REQUEST, &ask, waitMs);
  }

  SelfKeys keys_;
  ZmqContext zmq_;
};

TEST_F(PeerChannelTest, AnAnswerComesBackDecodedAndAnErrorAnswerCarriesItsCode) {
  ScriptedPeer peer(zmq_, {Act::kAnswer, Act::kRefuse});
  PeerChannel channel = Channel(kEndpoint);

  const PeerReply answered = AskStatus(channel, 2000);
  ASSERT_TRUE(answered.answered()) << answered.status.text();
  EXPECT_EQ(answered.code, qo::MC_STATUS_RESPONSE);
  EXPECT_FALSE(answered.refused());
  EXPECT_FALSE(answered.peerError.has_value());
  qo::MsgStatusResponse response;
  ASSERT_TRUE(response.ParseFromString(answered.body));
  EXPECT_EQ(response.syncs(0).local_tree_uuid(), "tree");

  // The same socket asks again: a REQ socket that got its answer may.
  const PeerReply refused = AskStatus(channel, 2000);
  ASSERT_TRUE(refused.answered()) << refused.status.text();
  EXPECT_TRUE(refused.refused());
  EXPECT_EQ(refused.peerError, qo::ZE_UNTRUSTED);
}

TEST_F(PeerChannelTest, AfterATimeOutTheNextAskStillGoesOut) {
  ScriptedPeer peer(zmq_, {Act::kIgnore, Act::kAnswer});
  PeerChannel channel = Channel(kEndpoint);

  const PeerReply silent = AskStatus(channel, 200);
  EXPECT_EQ(silent.status.code(), core::Status::Code::kTimeout);
  EXPECT_EQ(silent.receiveError, qo::ZE_OPERATE_TIMEOUT);
  EXPECT_FALSE(silent.arrived());

  const PeerReply answered = AskStatus(channel, 2000);
  ASSERT_TRUE(answered.answered()) << answered.status.text();
  EXPECT_EQ(answered.code, qo::MC_STATUS_RESPONSE);
  EXPECT_EQ(peer.Requests(), 2);
}

TEST_F(PeerChannelTest, WithoutARouteNothingIsSent) {
  PeerChannel channel = Channel("");
  EXPECT_FALSE(channel.HasRoute());
  const PeerReply reply = AskStatus(channel, 200);
  EXPECT_EQ(reply.status.code(), core::Status::Code::kUnavailable);
  EXPECT_FALSE(reply.arrived());
  EXPECT_EQ(reply.receiveError, 0);
}

}  // namespace
}  // namespace morvex::protocol
