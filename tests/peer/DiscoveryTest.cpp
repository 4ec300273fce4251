#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "core/BroadcastService.h"
#include "device/Device.h"
#include "peer/PeerFixture.h"
#include "platform/UniqueFd.h"
#include "protocol/SslUtils.h"
#include "support/LogCapture.h"
#include "support/ServiceProcess.h"

namespace morvex::peer {
namespace {

using namespace std::chrono_literals;
namespace uris = store::uris;

constexpr const char* kPeerUuid = "0d7c8a3e-1b2c-4d5e-8f60-123456789abc";

class DiscoveryTest : public PeerFixture {
 protected:
  qo::MsgDiscover PeerDatagram(int routePort = 9600) {
    static const auto keys = protocol::ssl::GenerateKeyPair();
    qo::MsgDiscover discover;
    discover.set_is_response(qo::PB_FALSE);
    discover.set_device_uuid(kPeerUuid);
    discover.set_device_name("peer");
    discover.set_device_type(qo::DEVICE_LINUX);
    discover.set_route_port(routePort);
    discover.set_pub_port(9601);
    discover.set_public_key(keys.publicDer);
    return discover;
  }
  void Send(const qo::MsgDiscover& discover, const std::string& token = "secret") {
    SendSealed(discover.SerializeAsString(), token);
  }
  void SendSealed(const std::string& plain, const std::string& token) {
    std::string cipher;
    ASSERT_TRUE(protocol::ssl::AesCipher(protocol::ssl::DeriveTokenKey(token)).Encrypt(plain, cipher));
    platform::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(8848);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::sendto(fd.Get(), cipher.data(), cipher.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(cipher.size()));
  }
  bool PeerKnown(const std::string& uuid = kPeerUuid) {
    const std::string where = "uuid = '" + uuid + "'";
    return test::WaitFor([&] { return Count(uris::Device(), where.c_str()) == 1; }, 2s);
  }
};

// Collects the broadcasts of one code on the broadcasting thread.
template <int kCode, typename Event>
class Broadcasts final : public core::CBroadcastReceiver {
 public:
  Broadcasts() { core::CBroadcastService::Instance().Register(kCode, this); }
  ~Broadcasts() override { core::CBroadcastService::Instance().Unregister(kCode, this); }
  bool OnReceive(int, const std::any& parameter) override {
    std::lock_guard lock(mutex_);
    events_.push_back(std::any_cast<Event>(parameter));
    return true;
  }
  std::vector<Event> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::vector<Event> events_;
};
using KeyEvents = Broadcasts<core::BM_TRUSTED_KEY_MISMATCH, core::DeviceKeyEvent>;
using OtherPasswordEvents = Broadcasts<core::BM_OTHER_PASSWORD, core::AddressEvent>;

TEST_F(DiscoveryTest, PeersAreRecordedAndOurOwnBroadcastIsIgnored) {
  test::LogCapture log;
  StartRouter();  // broadcasts at start; the datagram comes back to us
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(Count(uris::Device()), 1);
  Send(PeerDatagram());
  ASSERT_TRUE(PeerKnown());
  EXPECT_EQ(Count(uris::Device(), "route_uri = 'tcp://127.0.0.1:9600' AND online = 1 AND trust = 0 AND class = 1"), 1);
  EXPECT_EQ(Resolver().QueryInt(uris::DeviceTTL(), "ttl", -1,
                                store::CSelection("id = (SELECT id FROM Device WHERE uuid = ?)").AddString(kPeerUuid)),
            3);
  // The row is written before the line is logged.
  EXPECT_TRUE(test::WaitFor([&] { return log.Has(google::GLOG_INFO, "discovery request from: peer tcp://127.0.0.1:9600"); }, 2s));

  // The same values again: only ttl and online are refreshed.
  ASSERT_TRUE(Db().Exec("UPDATE DeviceTTL SET ttl = 1"));
  ASSERT_TRUE(Db().Exec("UPDATE Device SET name = 'renamed here' WHERE uuid = '0d7c8a3e-1b2c-4d5e-8f60-123456789abc'"));
  Send(PeerDatagram());
  EXPECT_TRUE(test::WaitFor([&] { return Count(uris::DeviceTTL(), "ttl = 3") >= 1; }, 2s));
  EXPECT_EQ(Count(uris::Device(), "name = 'peer'"), 1);  // a changed name is taken back
  // A new route port moves the device.
  Send(PeerDatagram(9700));
  EXPECT_TRUE(test::WaitFor([&] { return Count(uris::Device(), "route_uri = 'tcp://127.0.0.1:9700'") == 1; }, 2s));
}

TEST_F(DiscoveryTest, ForeignAndImplausibleDatagramsChangeNothing) {
  test::LogCapture log;
  OtherPasswordEvents otherPassword;
  StartRouter();
  Send(PeerDatagram(), "another password");
  Send(PeerDatagram(), "another password");
  qo::MsgDiscover badUuid = PeerDatagram();
  badUuid.set_device_uuid("0D7C8A3E-1B2C-4D5E-8F60-123456789ABC");
  qo::MsgDiscover badPort = PeerDatagram(0);
  qo::MsgDiscover badKey = PeerDatagram();
  badKey.set_public_key("not a key");
  for (const auto* datagram : {&badUuid, &badPort, &badKey}) Send(*datagram);
  // Workers handle the datagrams side by side: wait for all three.
  EXPECT_TRUE(test::WaitFor(
      [&] {
        return log.Has(google::GLOG_WARNING, "bad public key") && log.Has(google::GLOG_WARNING, "bad uuid") &&
               log.Has(google::GLOG_WARNING, "bad port");
      },
      2s));
  EXPECT_TRUE(log.Has(google::GLOG_WARNING, "Faild to decrypt discover message: src 127.0.0.1"));
  EXPECT_EQ(Count(uris::Device()), 1);
  // The user hears of the other password once per address, however often it sends.
  ASSERT_EQ(otherPassword.Events().size(), 1u);
  EXPECT_EQ(otherPassword.Events()[0].address, "127.0.0.1");
}

// Sealed with another password, about one datagram in 256 still passes the
// padding check and fails only as a message: that too is another password.
TEST_F(DiscoveryTest, ADatagramThatOpensButDoesNotParseIsAnotherPasswordToo) {
  test::LogCapture log;
  OtherPasswordEvents otherPassword;
  StartRouter();
  SendSealed("\xff\xff\xff not a discovery message", "secret");
  ASSERT_TRUE(test::WaitFor([&] { return otherPassword.Events().size() == 1; }, 2s));
  EXPECT_EQ(otherPassword.Events()[0].address, "127.0.0.1");
  EXPECT_TRUE(log.Has(google::GLOG_WARNING, "bad data format on udp socket: src 127.0.0.1"));
  EXPECT_EQ(Count(uris::Device()), 1);
}

TEST_F(DiscoveryTest, AgeingTakesSilentDevicesAwayAtTheThirdTick) {
  StartRouter();
  ASSERT_TRUE(Db().Exec("INSERT INTO Device (uuid, trust, online) VALUES ('stranger', 0, 1), ('friend', 1, 1)"));
  for (int tick = 1; tick <= 3; ++tick) {
    SCOPED_TRACE(tick);
    router_->AgeDevices();
    EXPECT_EQ(Count(uris::Device(), "uuid = 'stranger'"), tick < 3 ? 1 : 0);
    EXPECT_EQ(Count(uris::Device(), "uuid = 'friend' AND online = 1"), tick < 3 ? 1 : 0);
  }
  EXPECT_EQ(Count(uris::Device(), "uuid = 'friend'"), 1);  // trusted devices stay, offline
  EXPECT_EQ(Count(uris::Device(), "class = 0 AND online = 1"), 1);  // our own row is untouched
}

TEST_F(DiscoveryTest, ATrustedDeviceKeepsItsKeyWhateverADatagramSays) {
  test::LogCapture log;
  KeyEvents events;
  StartRouter();
  Send(PeerDatagram());
  ASSERT_TRUE(PeerKnown());
  ASSERT_TRUE(Db().Exec("UPDATE Device SET trust = 1 WHERE uuid = '0d7c8a3e-1b2c-4d5e-8f60-123456789abc'"));
  std::string trustedKey;
  ASSERT_TRUE(Resolver().QueryString(uris::Device(), "pubkey", trustedKey, store::CSelection("uuid = ? ").AddString(kPeerUuid)));

  qo::MsgDiscover impostor = PeerDatagram(9700);
  impostor.set_public_key(protocol::ssl::GenerateKeyPair().publicDer);
  Send(impostor);
  EXPECT_TRUE(test::WaitFor(
      [&] { return log.Has(google::GLOG_WARNING, std::string(kPeerUuid) + ") presented another key from 127.0.0.1"); }, 2s));
  ASSERT_TRUE(test::WaitFor([&] { return events.Events().size() == 1; }, 2s));
  EXPECT_EQ(events.Events()[0].deviceUuid, kPeerUuid);
  EXPECT_EQ(events.Events()[0].address, "127.0.0.1");
  std::string key;
  ASSERT_TRUE(Resolver().QueryString(uris::Device(), "pubkey", key, store::CSelection("uuid = ? ").AddString(kPeerUuid)));
  EXPECT_EQ(key, trustedKey);
  EXPECT_EQ(Count(uris::Device(), "route_uri = 'tcp://127.0.0.1:9600' AND trust = 1"), 1);

  // With its own key a trusted device still moves.
  Send(PeerDatagram(9800));
  EXPECT_TRUE(test::WaitFor([&] { return Count(uris::Device(), "route_uri = 'tcp://127.0.0.1:9800' AND trust = 1") == 1; }, 2s));
}

TEST_F(DiscoveryTest, TheRoutePortRefusesDiscovery) {
  test::LogCapture log;
  StartRouter();
  const auto self = config_.Snapshot();
  qo::MsgDiscoverWin datagram;
  datagram.set_src_host("127.0.0.1");
  *datagram.mutable_discover() = PeerDatagram();
  for (const bool sign : {false, true}) {
    SCOPED_TRACE(sign);
    protocol::ZmqSocket socket(zmq_, ZMQ_REQ);
    socket.Connect("tcp://127.0.0.1:" + std::to_string(self->routePort));
    protocol::CMsgSender out(socket, self->deviceUuid, sign ? self->privateKey : "", "");
    ASSERT_TRUE(out.Send(qo::MC_DISCOVER, &datagram, false));
    protocol::CQoMsg answer;
    ASSERT_TRUE(answer.Recv(socket, false, 5000));
    EXPECT_EQ(answer.Code(), qo::MC_ERROR);
    qo::MsgError error;
    ASSERT_TRUE(answer.ParseBody(error));
    EXPECT_EQ(error.errcode(), qo::ZE_PERMISSION_DENY);
  }
  EXPECT_TRUE(log.Has(google::GLOG_WARNING, "discovery message on the route port"));
  EXPECT_EQ(Count(uris::Device()), 1);
  int code = 0;
  std::string body;
  EXPECT_EQ(Ask(qo::MC_DEVICE_SHOW_REQUEST, nullptr, code, body), 0);
  EXPECT_EQ(code, qo::MC_DEVICE_SHOW_RESPONSE);
}

TEST_F(DiscoveryTest, UntrustedDevicesAreBoundedAndTheLeastRecentlySeenGoFirst) {
  StartRouter();
  std::string strangers;
  for (int i = 0; i < device::kMaxUntrustedDevices; ++i) strangers += (i == 0 ? "" : ", ") + ("('stranger-" + std::to_string(1000 + i) + "', 0, 1)");
  ASSERT_TRUE(Db().Exec("INSERT INTO Device (uuid, trust, online) VALUES " + strangers));
  ASSERT_TRUE(Db().Exec("INSERT INTO Device (uuid, trust, online) VALUES ('friend', 1, 0)"));
  ASSERT_TRUE(Db().Exec("UPDATE DeviceTTL SET ttl = 1 WHERE id = (SELECT id FROM Device WHERE uuid = 'stranger-1100')"));

  // The table is full: a newcomer takes the place of the one unseen for longest.
  Send(PeerDatagram());
  ASSERT_TRUE(PeerKnown());
  EXPECT_EQ(Count(uris::Device(), "trust = 0"), 256);
  EXPECT_EQ(Count(uris::Device(), "uuid = 'stranger-1100'"), 0);

  // Among rows seen as recently, the oldest row goes; trusted rows stay.
  qo::MsgDiscover another = PeerDatagram();
  another.set_device_uuid("0d7c8a3e-1b2c-4d5e-8f60-123456789abd");
  Send(another);
  ASSERT_TRUE(PeerKnown("0d7c8a3e-1b2c-4d5e-8f60-123456789abd"));
  EXPECT_EQ(Count(uris::Device(), "trust = 0"), 256);
  EXPECT_EQ(Count(uris::Device(), "uuid = 'stranger-1000'"), 0);
  EXPECT_EQ(Count(uris::Device(), "trust = 1"), 2);  // this device and the friend
}

}  // namespace
}  // namespace morvex::peer
