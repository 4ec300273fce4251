#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "peer/PeerFixture.h"
#include "peer/StatusThread.h"
#include "platform/UniqueFd.h"
#include "protocol/SslUtils.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace morvex::peer {
namespace {

using namespace std::chrono_literals;
namespace uris = store::uris;

constexpr const char* kTree = "11111111-2222-4333-8444-555555555555";
constexpr const char* kSync = "66666666-7777-4888-9999-aaaaaaaaaaaa";

class RequestTest : public PeerFixture {
 protected:
  qo::MsgError ErrorOf(const std::string& body) {
    qo::MsgError error;
    error.ParseFromString(body);
    return error;
  }
};

TEST_F(RequestTest, FindListsTheTreeSinceAUsnWithClocksAndTheirTrees) {
  StartRouter();
  ASSERT_TRUE(Db().Exec(std::string("INSERT INTO Tree (id, tree_uuid, tree_root, sync_uuid) VALUES (1, '") + kTree +
                        "', '/home/u/Docs', '" + kSync + "')"));
  ASSERT_TRUE(Db().Exec("INSERT INTO VCUuid VALUES (1, 'clock-b', 2), (1, 'clock-a', 1)"));
  ASSERT_TRUE(Db().Exec(
      "INSERT INTO File (tree_id, path, type, status, usn, sha1, local_clock, other_clock, win_attr, unix_attr) VALUES "
      "(1, '/home/u/Docs', 1, 1, 1, '', 1, NULL, 16, 493),"
      "(1, '/home/u/Docs/sub', 1, 1, 2, '', 2, NULL, 16, 493),"
      "(1, '/home/u/Docs/sub/a b.txt', 0, 1, 3, 'da39', 3, x'0500000006000000', 1, 420),"
      "(2, '/elsewhere/x', 0, 1, 4, '', 1, NULL, 0, 0)"));

  ASSERT_EQ(Resolver().QueryInt(uris::Tree(), "COUNT(*)", -1, store::CSelection("tree_uuid = ? ").AddString(kTree)), 1);
  qo::MsgFindRequest find;
  find.set_sync_uuid(kSync);
  find.set_tree_uuid(kTree);
  find.set_since(0);
  find.set_limit(5000);
  int code = 0;
  std::string body;
  ASSERT_EQ(Ask(qo::MC_FIND_REQUEST, &find, code, body), 0);
  ASSERT_EQ(code, qo::MC_FIND_RESPONSE) << ErrorOf(body).DebugString() << " size " << body.size();
  qo::MsgFindResponse listing;
  ASSERT_TRUE(listing.ParseFromString(body));
  ASSERT_EQ(listing.uuids_size(), 3);
  EXPECT_EQ(listing.uuids(0), kTree);
  EXPECT_EQ(listing.uuids(1), "clock-a");
  EXPECT_EQ(listing.uuids(2), "clock-b");
  ASSERT_EQ(listing.stats_size(), 2);  // the root itself and other trees are not listed
  EXPECT_EQ(listing.stats(0).path(), "/sub");
  EXPECT_FALSE(listing.stats(0).has_win_attr());  // a bare directory attribute is left out
  const qo::Stat& file = listing.stats(1);
  EXPECT_EQ(file.path(), "/sub/a b.txt");
  EXPECT_EQ(file.sha1(), "da39");
  EXPECT_EQ(std::vector<int>(file.vclock().begin(), file.vclock().end()), (std::vector<int>{3, 5, 6}));
  EXPECT_EQ(file.win_attr(), 1);
  EXPECT_EQ(file.unix_attr(), 420);

  find.set_since(3);
  ASSERT_EQ(Ask(qo::MC_FIND_REQUEST, &find, code, body), 0);
  ASSERT_TRUE(listing.ParseFromString(body));
  EXPECT_EQ(listing.stats_size(), 0);
  EXPECT_EQ(listing.uuids_size(), 3);

  struct Case {
    const char* sync;
    const char* tree;
    int error;
  };
  const Case failures[] = {
      {"66666666-7777-4888-9999-bbbbbbbbbbbb", kTree, qo::ZE_SYNCDIR_MISMATCH},
      {kSync, "11111111-2222-4333-8444-000000000000", qo::ZE_NOENT},
      {kSync, "not-a-uuid", qo::ZE_BAD_UUID},
  };
  for (const Case& c : failures) {
    find.set_sync_uuid(c.sync);
    find.set_tree_uuid(c.tree);
    ASSERT_EQ(Ask(qo::MC_FIND_REQUEST, &find, code, body), 0);
    EXPECT_EQ(code, qo::MC_ERROR);
    EXPECT_EQ(ErrorOf(body).errcode(), c.error);
  }
}

TEST_F(RequestTest, FindHoldsTheRequestedLimitToThePageSize) {
  StartRouter();
  ASSERT_TRUE(Db().Exec(std::string("INSERT INTO Tree (id, tree_uuid, tree_root, sync_uuid) VALUES (1, '") + kTree +
                        "', '/home/u/Docs', '" + kSync + "')"));
  // 5003 files with a usn each, so that every page could end anywhere.
  ASSERT_TRUE(Db().Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5003) "
      "INSERT INTO File (tree_id, path, type, status, usn, sha1, local_clock) "
      "SELECT 1, '/home/u/Docs/f' || i, 0, 1, i, '', 1 FROM n"));
  struct Case {
    int32_t limit;
    int expected;
  };
  for (const Case c : {Case{10, 10}, Case{5000, 5000}, Case{0, 5000}, Case{-1, 5000}, Case{1000000, 5000}}) {
    qo::MsgFindRequest find;
    find.set_sync_uuid(kSync);
    find.set_tree_uuid(kTree);
    find.set_since(0);
    find.set_limit(c.limit);
    int code = 0;
    std::string body;
    ASSERT_EQ(Ask(qo::MC_FIND_REQUEST, &find, code, body), 0);
    ASSERT_EQ(code, qo::MC_FIND_RESPONSE) << ErrorOf(body).DebugString();
    qo::MsgFindResponse listing;
    ASSERT_TRUE(listing.ParseFromString(body));
    EXPECT_EQ(listing.stats_size(), c.expected) << "limit " << c.limit;
  }
}

TEST_F(RequestTest, UnsignedRequestsOtherThanTheOpenOnesAreRefused) {
  StartRouter();
  const auto self = config_.Snapshot();
  for (const auto& [code, expected] : {std::pair{qo::MC_STATUS_REQUEST, static_cast<int>(qo::ZE_PERMISSION_DENY)},
                                       std::pair{qo::MC_DATABASE_CLEAR_REQUEST, static_cast<int>(qo::ZE_PERMISSION_DENY)},
                                       std::pair{qo::MC_DEVICE_SHOW_REQUEST, 0}}) {
    protocol::ZmqSocket socket(zmq_, ZMQ_REQ);
    socket.Connect("tcp://127.0.0.1:" + std::to_string(self->routePort));
    socket.SendMsg(code);
    protocol::CQoMsg answer;
    ASSERT_TRUE(answer.Recv(socket, false, 5000));
    if (expected == 0) {
      EXPECT_EQ(answer.Code(), qo::MC_DEVICE_SHOW_RESPONSE);
    } else {
      EXPECT_EQ(answer.Code(), qo::MC_ERROR);
      EXPECT_EQ(answer.Level(), qo::EL_NONE);
      qo::MsgError error;
      ASSERT_TRUE(answer.ParseBody(error));
      EXPECT_EQ(error.errcode(), expected);
    }
  }
}

TEST_F(RequestTest, AFifthRequestWaitsWhileFourWorkersAreBusy) {
  StartRouter();
  // A device that never answers keeps a worker busy for the 5 s answer wait.
  ASSERT_TRUE(Db().Exec("INSERT INTO Device (uuid, trust, route_uri, pubkey) VALUES "
                        "('0d7c8a3e-1b2c-4d5e-8f60-123456789abc', 0, 'tcp://10.255.0.1:9527', '')"));
  std::vector<std::thread> busy;
  for (int i = 0; i < 4; ++i) {
    busy.emplace_back([this] {
      qo::MsgLinuxTrustPublishRequest request;
      request.set_device_uuid("0d7c8a3e-1b2c-4d5e-8f60-123456789abc");
      request.set_timeout(30);
      int code = 0;
      std::string body;
      Ask(qo::MC_LINUX_TRUST_PUBLISH_REQUEST, &request, code, body, 10000);
    });
  }
  std::this_thread::sleep_for(1000ms);  // all four taken by now
  const auto start = std::chrono::steady_clock::now();
  int code = 0;
  std::string body;
  ASSERT_EQ(Ask(qo::MC_DEVICE_SHOW_REQUEST, nullptr, code, body, 10000), 0);
  EXPECT_EQ(code, qo::MC_DEVICE_SHOW_RESPONSE);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 3000ms);  // freed only when a wait of 5 s ends
  for (auto& thread : busy) thread.join();
}

TEST_F(RequestTest, ThePollerDropsRelationsThePeerDoesNotReportFromItsSide) {
  StartRouter();
  const auto self = config_.Snapshot();
  // Polling ourselves: every relation comes back as seen from "the peer",
  // so a relation is confirmed only by its mirror image.
  ASSERT_TRUE(Db().Exec("INSERT INTO Tree (id, tree_uuid, tree_root, sync_uuid) VALUES "
                        "(1, 't1', '/a', 's'), (2, 't2', '/b', 's'), (3, 't3', '/c', 's')"));
  ASSERT_TRUE(Db().Exec("INSERT INTO Sync (id, tree_id, peer_device_uuid, peer_tree_uuid) VALUES "
                        "(1, 1, '" + self->deviceUuid + "', 't2'), (2, 2, '" + self->deviceUuid + "', 't1'), "
                        "(3, 1, '" + self->deviceUuid + "', 't3')"));
  device::CDevice device;
  ASSERT_TRUE(device.LoadByUuid(self->deviceUuid));
  device.routeUri = "tcp://127.0.0.1:" + std::to_string(self->routePort);
  CStatusThread poller(*peer_, 1000000);
  poller.PollDevice(device);
  EXPECT_EQ(Count(uris::Sync()), 2);
  EXPECT_EQ(Count(uris::Sync(), "id = 3"), 0);  // reported with its two trees swapped: not confirmed
}

TEST_F(RequestTest, TheStatusIsAboutTheSenderOnlyAndAFailedReadPrunesNothing) {
  StartRouter();
  const auto self = config_.Snapshot();
  ASSERT_TRUE(Db().Exec("INSERT INTO Tree (id, tree_uuid, tree_root, sync_uuid) VALUES "
                        "(1, 't1', '/a', 's'), (2, 't2', '/b', 's'), (3, 't3', '/c', 's')"));
  ASSERT_TRUE(Db().Exec("INSERT INTO Sync (id, tree_id, peer_device_uuid, peer_tree_uuid) VALUES "
                        "(1, 1, '" + self->deviceUuid + "', 't2'), (2, 2, '" + self->deviceUuid + "', 't1'), "
                        "(3, 3, '0d7c8a3e-1b2c-4d5e-8f60-123456789abc', 't9')"));
  // The body names another device; the answer is still about the sender.
  qo::MsgStatusRequest ask;
  ask.set_device_uuid("0d7c8a3e-1b2c-4d5e-8f60-123456789abc");
  int code = 0;
  std::string body;
  ASSERT_EQ(Ask(qo::MC_STATUS_REQUEST, &ask, code, body), 0);
  ASSERT_EQ(code, qo::MC_STATUS_RESPONSE);
  qo::MsgStatusResponse status;
  ASSERT_TRUE(status.ParseFromString(body));
  EXPECT_EQ(status.syncs_size(), 2);
  for (const auto& info : status.syncs()) EXPECT_EQ(info.remote_device_uuid(), self->deviceUuid);

  // A column that fails to compute: the answering side's query, which reads
  // it, fails at its first row; the poller's own query does not read it.
  ASSERT_TRUE(Db().Exec("DROP VIEW SyncDir"));
  ASSERT_TRUE(Db().Exec("CREATE VIEW SyncDir AS SELECT Sync.id AS id, tree_uuid, tree_root, sync_uuid, tree_id, "
                        "peer_device_uuid, peer_tree_uuid, json('not json') AS peer_tree_root "
                        "FROM Tree, Sync WHERE Sync.tree_id = Tree.id"));
  ASSERT_EQ(Ask(qo::MC_STATUS_REQUEST, &ask, code, body), 0);
  ASSERT_EQ(code, qo::MC_ERROR);
  EXPECT_EQ(ErrorOf(body).errcode(), qo::ZE_SQLITE);
  device::CDevice device;
  ASSERT_TRUE(device.LoadByUuid(self->deviceUuid));
  device.routeUri = "tcp://127.0.0.1:" + std::to_string(self->routePort);
  CStatusThread poller(*peer_, 1000000);
  poller.PollDevice(device);
  EXPECT_EQ(Count(uris::Sync()), 3);
}

// Another device's side of a conversation with the fixture's device.
class OtherDevice final : public protocol::IKeyManager {
 public:
  OtherDevice(std::string uuid, const config::ConfigValues& receiver)
      : uuid_(std::move(uuid)), keys_(protocol::ssl::GenerateKeyPair()), receiver_(receiver) {}
  std::string GetPrivateKey() override { return keys_.privateDer; }
  std::string GetPublicKey(const std::string& uuid, bool) override {
    return uuid == receiver_.deviceUuid ? receiver_.publicKey : std::string();
  }
  void Register(store::CSQLite& db, int trust = 0) {
    ASSERT_TRUE(db.Exec("INSERT INTO Device (uuid, name, trust, pubkey) VALUES ('" + uuid_ + "', 'other', " +
                        std::to_string(trust) + ", '" + protocol::ssl::DerToPemPublic(keys_.publicDer) + "')"));
  }
  // One request signed by this device; the MC_ERROR code of the answer, 0
  // for another answer, -1 without one.
  int Ask(protocol::ZmqContext& zmq, int code, const google::protobuf::MessageLite& body,
          std::string* answerBody = nullptr) {
    protocol::ZmqSocket socket(zmq, ZMQ_REQ);
    socket.Connect("tcp://127.0.0.1:" + std::to_string(receiver_.routePort));
    protocol::CMsgSender(socket, uuid_, keys_.privateDer, receiver_.publicKey).Send(code, &body, false);
    protocol::CInMsg answer(*this);
    if (!answer.Recv(socket, false, 5000)) return -1;
    if (answerBody != nullptr) *answerBody = answer.Body();
    qo::MsgError error;
    return answer.Code() == qo::MC_ERROR && error.ParseFromString(answer.Body()) ? error.errcode() : 0;
  }
  // MC_TRUST_REQUEST with `token`; the trust result, or -1 without answer.
  int AskForTrust(protocol::ZmqContext& zmq, const std::string& token) {
    protocol::ZmqSocket socket(zmq, ZMQ_REQ);
    socket.Connect("tcp://127.0.0.1:" + std::to_string(receiver_.routePort));
    qo::MsgTrustRequest request;
    request.set_token(token);
    protocol::CMsgSender(socket, uuid_, keys_.privateDer, receiver_.publicKey).Send(qo::MC_TRUST_REQUEST, &request, false);
    protocol::CInMsg answer(*this);
    qo::MsgTrustResponse result;
    if (!answer.Recv(socket, false, 5000) || !answer.ParseBody(result)) return -1;
    return result.trust_result();
  }
  // Answers one request arriving at `socket` (a bound REP socket) with
  // `code` and an empty body; false when none came.
  bool AnswerOnce(protocol::ZmqSocket& socket, int code) {
    protocol::CInMsg request(*this);
    if (!request.Recv(socket, false, 5000)) return false;
    return protocol::CMsgSender(socket, uuid_, keys_.privateDer, receiver_.publicKey).Send(code, nullptr, false);
  }
  const std::string& Uuid() const { return uuid_; }

 private:
  std::string uuid_;
  protocol::ssl::KeyPairDer keys_;
  const config::ConfigValues& receiver_;
};

TEST_F(RequestTest, OnlyATokenWeIssuedToThatDeviceAndNotYetUsedEarnsTrust) {
  StartRouter();
  const auto self = config_.Snapshot();
  OtherDevice b("0d7c8a3e-1b2c-4d5e-8f60-00000000000b", *self);
  OtherDevice c("0d7c8a3e-1b2c-4d5e-8f60-00000000000c", *self);
  b.Register(Db());
  c.Register(Db());
  trust_.RecordIssued(b.Uuid(), "token issued to b", 60s);

  EXPECT_EQ(c.AskForTrust(zmq_, "token issued to b"), qo::TRUST_DENY);  // not even a token
  qo::WinTrustInfo info;
  info.set_timestamp(1);
  info.set_timeout(60);
  info.set_cert("x");
  const std::string token = info.SerializeAsString();
  trust_.RecordIssued(b.Uuid(), token, 60s);
  EXPECT_EQ(c.AskForTrust(zmq_, token), qo::TRUST_DENY);  // a third device with b's token
  EXPECT_EQ(b.AskForTrust(zmq_, token), qo::TRUST_ALLOW);
  EXPECT_EQ(Count(uris::Device(), "trust = 1 AND name = 'other'"), 1);
  ASSERT_TRUE(Db().Exec("UPDATE Device SET trust = 0 WHERE name = 'other'"));
  EXPECT_EQ(b.AskForTrust(zmq_, token), qo::TRUST_DENY);  // replayed
  EXPECT_EQ(Count(uris::Device(), "trust = 1 AND name = 'other'"), 0);
}

TEST_F(RequestTest, APeerChangesOnlyItsOwnRelationsAndTheTreesItMakesAreLogged) {
  StartRouter();
  const auto self = config_.Snapshot();
  OtherDevice b("0d7c8a3e-1b2c-4d5e-8f60-00000000000b", *self);
  b.Register(Db(), 1);
  Resolver().NotifyChange(uris::Device());  // the key store learns b's key
  const std::string third = "0d7c8a3e-1b2c-4d5e-8f60-00000000000c";
  ASSERT_TRUE(Db().Exec("INSERT INTO Device (uuid, name, trust) VALUES ('" + third + "', 'third', 1)"));
  ASSERT_TRUE(Db().Exec(std::string("INSERT INTO Tree (id, tree_uuid, tree_root, sync_uuid) VALUES (1, '") + kTree +
                        "', '/a', '" + kSync + "')"));
  const std::string bTree = "0d7c8a3e-1b2c-4d5e-8f60-0000000000eb";
  const std::string thirdTree = "0d7c8a3e-1b2c-4d5e-8f60-0000000000ec";
  ASSERT_TRUE(Db().Exec("INSERT INTO Sync (id, tree_id, peer_device_uuid, peer_tree_uuid) VALUES "
                        "(1, 1, '" + b.Uuid() + "', '" + bTree + "'), (2, 1, '" + third + "', '" + thirdTree + "')"));

  qo::MsgSyncAddRequest add;
  add.set_local_tree_uuid(kTree);
  add.set_remote_sync_uuid(kSync);
  add.set_remote_device_uuid(third);
  add.set_remote_tree_uuid("0d7c8a3e-1b2c-4d5e-8f60-0000000000ff");
  add.set_remote_tree_root("/elsewhere");
  EXPECT_EQ(b.Ask(zmq_, qo::MC_SYNC_ADD_REQUEST, add), qo::ZE_PERMISSION_DENY);
  EXPECT_EQ(Count(uris::Sync()), 2);

  qo::MsgSyncShowRequest show;
  show.set_show_statistics(qo::PB_FALSE);
  show.add_remote_device_uuids(third);
  std::string body;
  ASSERT_EQ(b.Ask(zmq_, qo::MC_SYNC_SHOW_REQUEST, show, &body), 0);
  qo::MsgSyncShowResponse shown;
  ASSERT_TRUE(shown.ParseFromString(body));
  ASSERT_EQ(shown.syncs_size(), 1);
  EXPECT_EQ(shown.syncs(0).remote_device_uuid(), b.Uuid());

  qo::MsgSyncDeleteRequest remove;
  remove.set_local_tree_uuid(kTree);
  remove.set_remote_tree_uuid(thirdTree);
  EXPECT_EQ(b.Ask(zmq_, qo::MC_SYNC_DELETE_REQUEST, remove), qo::ZE_NOENT);
  EXPECT_EQ(Count(uris::Sync()), 2);
  remove.set_remote_tree_uuid(bTree);
  EXPECT_EQ(b.Ask(zmq_, qo::MC_SYNC_DELETE_REQUEST, remove), 0);
  EXPECT_EQ(Count(uris::Sync(), "id = 2"), 1);
  EXPECT_EQ(Count(uris::Sync()), 1);

  test::TempDir folder;
  test::LogCapture log;
  qo::MsgTreeAddRequest tree;
  tree.set_sync_uuid(kSync);
  tree.set_tree_root(folder.Path());
  ASSERT_EQ(b.Ask(zmq_, qo::MC_TREE_ADD_REQUEST, tree), 0);
  EXPECT_TRUE(log.Has(google::GLOG_WARNING, folder.Path() + " made for the peer other (" + b.Uuid() + ")"));
}

TEST_F(RequestTest, ThePollerPrunesOnlyOnAStatusAnswer) {
  const auto self = config_.Snapshot();
  OtherDevice b("0d7c8a3e-1b2c-4d5e-8f60-00000000000b", *self);
  b.Register(Db(), 1);
  Resolver().NotifyChange(uris::Device());
  ASSERT_TRUE(Db().Exec(std::string("INSERT INTO Tree (id, tree_uuid, tree_root, sync_uuid) VALUES (1, '") + kTree +
                        "', '/a', '" + kSync + "')"));
  ASSERT_TRUE(Db().Exec("INSERT INTO Sync (id, tree_id, peer_device_uuid, peer_tree_uuid) VALUES (1, 1, '" +
                        b.Uuid() + "', 't9')"));
  protocol::ZmqSocket route(zmq_, ZMQ_REP);
  ASSERT_TRUE(route.Bind("tcp://127.0.0.1:47611"));
  device::CDevice device;
  ASSERT_TRUE(device.LoadByUuid(b.Uuid()));
  device.routeUri = "tcp://127.0.0.1:47611";
  CStatusThread poller(*peer_, 1000000);
  // An answer that is not a status answer, with an empty body: nothing is
  // known about b's relations.
  std::thread peer([&] { EXPECT_TRUE(b.AnswerOnce(route, qo::MC_SYNC_SHOW_RESPONSE)); });
  poller.PollDevice(device);
  peer.join();
  EXPECT_EQ(Count(uris::Sync()), 1);
  // An empty status answer: b keeps no relation with us.
  peer = std::thread([&] { EXPECT_TRUE(b.AnswerOnce(route, qo::MC_STATUS_RESPONSE)); });
  poller.PollDevice(device);
  peer.join();
  EXPECT_EQ(Count(uris::Sync()), 0);
}

// A connection that announces a frame far beyond any request is closed at
// the frame's header, before anything is held for it.
TEST_F(RequestTest, AnOversizedFrameOnTheRoutePortClosesItsConnection) {
  StartRouter();
  platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(config_.Snapshot()->routePort));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  // ZMTP 3.0 by hand: greeting (NULL mechanism), READY as a DEALER, then
  // the head of a 1 GiB frame and its first MiB.
  std::string greeting(64, '\0');
  greeting[0] = '\xff';
  greeting[9] = '\x7f';
  greeting[10] = 3;
  greeting.replace(12, 4, "NULL");
  std::string ready = std::string("\x05READY") + '\x0b' + "Socket-Type" + std::string("\0\0\0\x06", 4) + "DEALER";
  std::string wire = greeting + '\x04' + static_cast<char>(ready.size()) + ready;
  wire += std::string("\x02\0\0\0\0\x40\0\0\0", 9);  // long frame, 2^30 bytes
  wire += std::string(1 << 20, 'x');
  size_t sent = 0;
  while (sent < wire.size()) {
    const ssize_t n = ::send(fd.Get(), wire.data() + sent, wire.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // closed under our feet: what we want
    sent += static_cast<size_t>(n);
  }
  // Read the router's greeting and then the end of the stream.
  bool closed = false;
  char buffer[4096];
  for (;;) {
    pollfd wait{fd.Get(), POLLIN, 0};
    if (::poll(&wait, 1, 5000) <= 0) break;
    const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
    if (n <= 0) {
      closed = true;
      break;
    }
  }
  EXPECT_TRUE(closed);
  int code = 0;
  std::string body;
  ASSERT_EQ(Ask(qo::MC_DEVICE_SHOW_REQUEST, nullptr, code, body), 0);
  EXPECT_EQ(code, qo::MC_DEVICE_SHOW_RESPONSE);
}

}  // namespace
}  // namespace morvex::peer
