#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/StatusBoard.h"
#include "index/Tree.h"
#include "peer/PeerFixture.h"
#include "peer/Relations.h"
#include "protocol/Identity.h"
#include "protocol/SslUtils.h"
#include "support/ServiceProcess.h"

namespace morvex::peer {
namespace {

namespace uris = store::uris;

constexpr const char* kSync = "66666666-7777-4888-9999-aaaaaaaaaaaa";
constexpr const char* kOtherSync = "66666666-7777-4888-9999-bbbbbbbbbbbb";
constexpr const char* kPeer = "0d7c8a3e-1b2c-4d5e-8f60-123456789abc";
constexpr const char* kPeerTree = "0d7c8a3e-1b2c-4d5e-8f60-00000000aaaa";

class AdminTest : public PeerFixture {
 protected:
  // The error code of the answer, 0 when the request succeeded.
  int Code(int code, const google::protobuf::MessageLite* body, std::string* answer = nullptr) {
    int answerCode = 0;
    std::string answerBody;
    EXPECT_EQ(Ask(code, body, answerCode, answerBody), 0);
    if (answer != nullptr) *answer = answerBody;
    if (answerCode != qo::MC_ERROR) return 0;
    qo::MsgError error;
    error.ParseFromString(answerBody);
    return error.errcode();
  }
  std::string Folder(const std::string& name) {
    const std::string path = dir_ / name;
    ::mkdir(path.c_str(), 0755);
    return path;
  }
  int AddTree(const std::string& root, const std::string& sync, std::string* treeUuid = nullptr) {
    qo::MsgTreeAddRequest add;
    add.set_sync_uuid(sync);
    add.set_tree_root(root);
    std::string answer;
    const int result = Code(qo::MC_TREE_ADD_REQUEST, &add, &answer);
    qo::MsgTreeAddResponse response;
    if (result == 0 && treeUuid != nullptr && response.ParseFromString(answer)) *treeUuid = response.tree_uuid();
    return result;
  }
  // The answer to `code` sent as device `uuid`, signed with `privateDer`
  // (unsigned when empty): 0 for success, else the error code.
  // An answer to a trusted UUID comes encrypted for it: `answerKey` (when
  // not empty) reads it.
  int AskAs(const std::string& uuid, const std::string& privateDer, int code, const google::protobuf::MessageLite* body,
            std::string* answer = nullptr, const std::string& answerKey = {}) {
    const auto self = config_.Snapshot();
    protocol::ZmqSocket socket(zmq_, ZMQ_REQ);
    socket.Connect("tcp://127.0.0.1:" + std::to_string(self->routePort));
    protocol::CMsgSender out(socket, uuid, privateDer, privateDer.empty() ? std::string() : self->publicKey);
    EXPECT_TRUE(out.Send(code, body, false));
    SenderKeys keys(answerKey.empty() ? privateDer : answerKey, self->deviceUuid, self->publicKey);
    protocol::CInMsg in(keys);
    EXPECT_TRUE(in.Recv(socket, false, 5000)) << in.ReceiveError();
    if (answer != nullptr) *answer = in.Body();
    if (in.Code() != qo::MC_ERROR) return 0;
    qo::MsgError error;
    error.ParseFromString(in.Body());
    return error.errcode();
  }
  // What the asking device knows: its own private key and ours.
  class SenderKeys final : public protocol::IKeyManager {
   public:
    SenderKeys(std::string privateDer, std::string selfUuid, std::string selfPublic)
        : privateDer_(std::move(privateDer)), selfUuid_(std::move(selfUuid)), selfPublic_(std::move(selfPublic)) {}
    std::string GetPrivateKey() override { return privateDer_; }
    std::string GetPublicKey(const std::string& uuid, bool) override { return uuid == selfUuid_ ? selfPublic_ : ""; }

   private:
    std::string privateDer_, selfUuid_, selfPublic_;
  };
  void InsertDevice(const std::string& uuid, int trust, const std::string& publicDer) {
    store::CContentValues row;
    row.PutString("uuid", uuid).PutInt("trust", trust).PutString("pubkey", protocol::ssl::DerToPemPublic(publicDer));
    ASSERT_GT(Resolver().Insert(uris::Device(), row, store::kConflictNone), 0);
  }
  test::TempDir dir_;
};

TEST_F(AdminTest, TreeAddChecksRootsAndNesting) {
  std::vector<std::string> bookmarked;
  peer_->onTreeAdded = [&bookmarked](const std::string& root) { bookmarked.push_back(root); };
  StartRouter();
  const std::string docs = Folder("docs");
  Folder("docs/inner");
  test::WriteFile(dir_ / "file", "x");
  std::string docsUuid;
  ASSERT_EQ(AddTree(docs, kSync, &docsUuid), 0);
  EXPECT_TRUE(protocol::IsValidUuid(docsUuid));

  struct Case {
    std::string root;
    const char* sync;
    int error;
  };
  const Case cases[] = {
      {docs, kSync, qo::ZE_EXIST},
      {docs, kOtherSync, qo::ZE_EXIST},  // a root belongs to one tree
      {docs + "/inner", kSync, qo::ZE_NESTED_TREE},
      {dir_.Path(), kSync, qo::ZE_NESTED_TREE},
      {docs + "/inner", kOtherSync, qo::ZE_NESTED_TREE},  // nor in or around another sync folder
      {dir_.Path(), kOtherSync, qo::ZE_NESTED_TREE},
      {"/", kSync, qo::ZE_BAD_PATH},
      {"relative/path", kSync, qo::ZE_BAD_PATH},
      {"C:/Users", kSync, qo::ZE_BAD_PATH},
      {dir_ / "file", kSync, qo::ZE_BAD_PATH},
      {dir_ / "missing", kSync, qo::ZE_BAD_PATH},
      {metadir_ / "Morvex", kSync, qo::ZE_BAD_PATH},  // the service's own folder
      {docs, "not-a-uuid", qo::ZE_BAD_UUID},
  };
  for (const Case& c : cases) EXPECT_EQ(AddTree(c.root, c.sync), c.error) << c.root << " " << c.sync;

  qo::MsgTreeShowResponse trees;
  std::string answer;
  ASSERT_EQ(Code(qo::MC_TREE_SHOW_REQUEST, nullptr, &answer), 0);
  ASSERT_TRUE(trees.ParseFromString(answer));
  EXPECT_EQ(trees.trees_size(), 1);
  EXPECT_EQ(bookmarked, std::vector<std::string>{docs});  // only the tree that was made
}

// A home folder of the test's own, set while the workers run.
class ScopedHome {
 public:
  explicit ScopedHome(const std::string& home) {
    if (const char* old = std::getenv("HOME")) old_ = old;
    ::setenv("HOME", home.c_str(), 1);
  }
  ~ScopedHome() {
    if (old_) {
      ::setenv("HOME", old_->c_str(), 1);
    } else {
      ::unsetenv("HOME");
    }
  }
  ScopedHome(const ScopedHome&) = delete;
  ScopedHome& operator=(const ScopedHome&) = delete;

 private:
  std::optional<std::string> old_;
};

class PrivateFoldersTest : public AdminTest {
 protected:
  test::TempDir homeDir_;
  ScopedHome home_{homeDir_.Path()};  // restored after the fixture has stopped the workers
};

TEST_F(PrivateFoldersTest, KeysAndTheServicesOwnDataAreNeitherSyncedNorListed) {
  const std::string home = homeDir_.Path();
  for (const char* dir : {".ssh", ".gnupg", ".gnupg/private", ".local", ".local/share", ".local/share/keyrings",
                          ".config", "Docs"}) {
    ASSERT_EQ(::mkdir((homeDir_ / dir).c_str(), 0700), 0) << dir;
  }
  ASSERT_EQ(::symlink((homeDir_ / ".ssh").c_str(), (dir_ / "keys").c_str()), 0);
  ASSERT_EQ(::mkdir((metadir_ / "beside").c_str(), 0700), 0);
  StartRouter();

  struct Case {
    std::string root;
    int error;
  };
  const Case cases[] = {
      {homeDir_ / ".ssh", qo::ZE_PERMISSION_DENY},
      {homeDir_ / ".gnupg/private", qo::ZE_PERMISSION_DENY},
      {homeDir_ / ".local/share/keyrings", qo::ZE_PERMISSION_DENY},
      {homeDir_ / "Docs/../.ssh", qo::ZE_PERMISSION_DENY},  // the same folder by another name
      {dir_ / "keys/.", qo::ZE_PERMISSION_DENY},            // and through a link
      {metadir_ / "beside", qo::ZE_PERMISSION_DENY},        // in the service's metadir
      {homeDir_ / ".local/share", 0},                       // only the stores themselves
      {home, qo::ZE_NESTED_TREE},                           // around the tree just made
  };
  for (const Case& c : cases) EXPECT_EQ(AddTree(c.root, kSync), c.error) << c.root;

  qo::MsgListRequest list;
  list.set_root(home);
  std::string answer;
  ASSERT_EQ(Code(qo::MC_LIST_REQUEST, &list, &answer), 0);
  qo::MsgListResponse listing;
  ASSERT_TRUE(listing.ParseFromString(answer));
  std::vector<std::string> names;
  for (const auto& stat : listing.stats()) names.push_back(stat.name());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".config", ".local", "Docs"}));
  for (const std::string& root : {homeDir_ / ".ssh", homeDir_ / ".gnupg/private", dir_ / "keys", metadir_ / "Morvex"}) {
    list.set_root(root);
    EXPECT_EQ(Code(qo::MC_LIST_REQUEST, &list), qo::ZE_PERMISSION_DENY) << root;
  }
}

TEST_F(AdminTest, RelationsNeedATreeAKnownDeviceAndNoSelfSync) {
  StartRouter();
  std::string treeUuid;
  ASSERT_EQ(AddTree(Folder("docs"), kSync, &treeUuid), 0);
  ASSERT_TRUE(Db().Exec(std::string("INSERT INTO Device (uuid, name, trust) VALUES ('") + kPeer +
                        "', 'peer', 1), ('0d7c8a3e-1b2c-4d5e-8f60-123456789abd', 'twin', 1)"));
  const auto add = [&](const std::string& tree, const std::string& sync, const std::string& device,
                       const std::string& peerTree) {
    qo::MsgSyncAddRequest request;
    request.set_local_tree_uuid(tree);
    request.set_remote_sync_uuid(sync);
    request.set_remote_device_uuid(device);
    request.set_remote_tree_uuid(peerTree);
    request.set_remote_tree_root("/home/peer/docs");
    return Code(qo::MC_SYNC_ADD_REQUEST, &request);
  };
  const std::string self = config_.Snapshot()->deviceUuid;
  EXPECT_EQ(add(treeUuid, kSync, kPeer, kPeerTree), 0);
  EXPECT_EQ(add(treeUuid, kSync, kPeer, kPeerTree), qo::ZE_EXIST);
  EXPECT_EQ(add(treeUuid, kOtherSync, kPeer, kPeerTree), qo::ZE_SYNCDIR_MISMATCH);
  EXPECT_EQ(add("0d7c8a3e-1b2c-4d5e-8f60-00000000ffff", kSync, kPeer, kPeerTree), qo::ZE_BAD_TREE);
  EXPECT_EQ(add(treeUuid, kSync, "0d7c8a3e-1b2c-4d5e-8f60-000000000000", kPeerTree), qo::ZE_BAD_DEVICE);
  EXPECT_EQ(add(treeUuid, kSync, self, treeUuid), qo::ZE_SYNC_WITH_SELF);
  EXPECT_EQ(add(treeUuid, kSync, "bad", kPeerTree), qo::ZE_BAD_UUID);

  qo::MsgSyncShowRequest show;
  show.set_show_statistics(qo::PB_FALSE);
  show.add_remote_device_uuids(kPeer);
  show.add_remote_device_uuids("x') OR 1=1 --");  // bound, never part of the statement
  std::string answer;
  ASSERT_EQ(Code(qo::MC_SYNC_SHOW_REQUEST, &show, &answer), 0);
  qo::MsgSyncShowResponse syncs;
  ASSERT_TRUE(syncs.ParseFromString(answer));
  ASSERT_EQ(syncs.syncs_size(), 1);
  EXPECT_EQ(syncs.syncs(0).remote_device_name(), "peer");

  qo::MsgTreeDeleteRequest deleteTree;
  deleteTree.set_tree_uuid(treeUuid);
  EXPECT_EQ(Code(qo::MC_TREE_DELETE_REQUEST, &deleteTree), qo::ZE_SYNC_NOEMPTY);
  qo::MsgSyncDeleteRequest deleteSync;
  deleteSync.set_local_tree_uuid(treeUuid);
  deleteSync.set_remote_tree_uuid(kPeerTree);
  EXPECT_EQ(Code(qo::MC_SYNC_DELETE_REQUEST, &deleteSync), 0);
  EXPECT_EQ(Code(qo::MC_SYNC_DELETE_REQUEST, &deleteSync), qo::ZE_NOENT);
  EXPECT_EQ(Code(qo::MC_TREE_DELETE_REQUEST, &deleteTree), 0);
  EXPECT_EQ(Code(qo::MC_TREE_DELETE_REQUEST, &deleteTree), qo::ZE_NOENT);
}

// This device plays the peer too: a relation between two of its own trees
// has its mirror image, which the peer side of a removal must drop.
TEST_F(AdminTest, RemovingARelationOrATreeTellsThePeerToDropItsSide) {
  StartRouter();
  const std::string own = config_.Snapshot()->deviceUuid;
  std::string first, second, third;
  ASSERT_EQ(AddTree(Folder("first"), kSync, &first), 0);
  ASSERT_EQ(AddTree(Folder("second"), kSync, &second), 0);
  ASSERT_EQ(AddTree(Folder("third"), kSync, &third), 0);
  const auto link = [&](const std::string& local, const std::string& remote) {
    qo::MsgSyncAddRequest add;
    add.set_local_tree_uuid(local);
    add.set_remote_sync_uuid(kSync);
    add.set_remote_tree_uuid(remote);
    add.set_remote_tree_root("/elsewhere");
    add.set_remote_device_uuid(own);
    ASSERT_EQ(Code(qo::MC_SYNC_ADD_REQUEST, &add), 0);
  };
  link(first, second);
  link(second, first);
  link(first, third);
  link(third, first);
  const auto relation = [&](const std::string& local, const std::string& remote) {
    return Resolver().QueryInt(uris::SyncDir(), "id", 0,
                               store::CSelection("tree_uuid = ? AND peer_tree_uuid = ? ").AddString(local).AddString(remote));
  };

  qo::MsgWinSyncDeleteRequest remove;
  remove.set_sync_id(relation(first, second));
  ASSERT_EQ(Code(qo::MC_WIN_SYNC_DELETE_REQUEST, &remove), 0);
  EXPECT_EQ(relation(first, second), 0);
  EXPECT_EQ(relation(second, first), 0) << "the peer dropped its side";
  EXPECT_EQ(Code(qo::MC_WIN_SYNC_DELETE_REQUEST, &remove), qo::ZE_NOENT);

  ASSERT_EQ(DeleteTreeWithRelations(*peer_, first), qo::ZE_SUCCESS);
  EXPECT_EQ(Count(uris::Sync()), 0) << "both sides of first-third are gone";
  EXPECT_FALSE(index::LocalTree::ByUuid(first).Valid());
  EXPECT_EQ(DeleteTreeWithRelations(*peer_, first), qo::ZE_NOENT);
}

TEST_F(AdminTest, TheOwnStatusShowsEachRelationsStateAndTheIndexingLeft) {
  StartRouter();
  const std::string own = config_.Snapshot()->deviceUuid;
  std::string first, second;
  ASSERT_EQ(AddTree(Folder("first"), kSync, &first), 0);
  ASSERT_EQ(AddTree(Folder("second"), kSync, &second), 0);
  qo::MsgSyncAddRequest add;
  add.set_local_tree_uuid(first);
  add.set_remote_sync_uuid(kSync);
  add.set_remote_tree_uuid(second);
  add.set_remote_tree_root("/elsewhere");
  add.set_remote_device_uuid(own);
  ASSERT_EQ(Code(qo::MC_SYNC_ADD_REQUEST, &add), 0);
  const int32_t id = Resolver().QueryInt(uris::Sync(), "id", 0, store::CSelection());
  const int32_t secondId = index::LocalTree::ByUuid(second).Id();

  auto& board = core::CStatusBoard::Instance();
  board.Clear();
  board.Attach();
  core::CBroadcastService::Instance().Broadcast(core::BM_FILES_TOTAL, core::FileEvent{1, id, 3});
  core::CBroadcastService::Instance().Broadcast(core::BM_FILES_DONE, core::FileEvent{1, id, 1});
  core::CBroadcastService::Instance().Broadcast(core::BM_BYTES_TOTAL, core::ByteEvent{1, id, 300});
  core::CBroadcastService::Instance().Broadcast(core::BM_INDEX_BEGIN, core::IndexEvent{secondId, 5});
  core::CBroadcastService::Instance().Broadcast(core::BM_INDEX_PROGRESS, core::IndexEvent{secondId, 2});
  board.SetSchedule(id, true, true);
  board.PassEnded(id, true, 1234);
  board.Detach();

  std::string answer;
  ASSERT_EQ(Code(qo::MC_LINUX_STATUS_REQUEST, nullptr, &answer), 0);
  qo::MsgStatusResponse status;
  ASSERT_TRUE(status.ParseFromString(answer));
  ASSERT_EQ(status.syncs_size(), 2);
  const qo::SyncInfo& relation = status.syncs(0);
  EXPECT_EQ(relation.local_tree_uuid(), first);
  EXPECT_EQ(relation.remote_tree_uuid(), second);
  EXPECT_EQ(relation.dirty_count(), 2);
  EXPECT_EQ(relation.dirty_size(), 300);
  EXPECT_EQ(relation.last_sync(), 1234);
  EXPECT_EQ(relation.total_count(), 1 | 2 | 4);
  const qo::SyncInfo& indexing = status.syncs(1);
  EXPECT_EQ(indexing.local_tree_uuid(), second);
  EXPECT_EQ(indexing.remote_device_uuid(), "");
  EXPECT_EQ(indexing.dirty_count(), 3);
  EXPECT_EQ(status.problems_size(), 0) << "a complete pass has no problem";
  ASSERT_EQ(status.progress_size(), 1);
  EXPECT_EQ(status.progress(0).total_bytes(), 300);
  EXPECT_GT(status.progress(0).started(), 0);

  core::PassReport report;
  report.problem = core::PassProblem::kItemsFailed;
  for (size_t i = 0; i <= core::PassReport::kMaxListed; ++i) report.AddItem("/t/f" + std::to_string(i), "Permission denied");
  board.SetPassReport(id, report);
  board.PassEnded(id, false, 2000);
  ASSERT_EQ(Code(qo::MC_LINUX_STATUS_REQUEST, nullptr, &answer), 0);
  ASSERT_TRUE(status.ParseFromString(answer));
  ASSERT_EQ(status.problems_size(), 1);
  const qo::PassProblemInfo& problem = status.problems(0);
  EXPECT_EQ(problem.local_tree_uuid(), first);
  EXPECT_EQ(problem.remote_tree_uuid(), second);
  EXPECT_EQ(problem.kind(), static_cast<int32_t>(core::PassProblem::kItemsFailed));
  EXPECT_EQ(problem.items_size(), static_cast<int>(core::PassReport::kMaxListed));
  EXPECT_EQ(problem.item_count(), static_cast<int>(core::PassReport::kMaxListed) + 1);
  EXPECT_EQ(problem.items(0).path(), "/t/f0");
  EXPECT_EQ(problem.items(0).reason(), "Permission denied");
  board.Clear();
}

TEST_F(AdminTest, DevicesAndTheOwnDatabaseClear) {
  StartRouter();
  const auto keys = protocol::ssl::GenerateKeyPair();
  qo::MsgDeviceAddRequest add;
  add.set_uuid(kPeer);
  add.set_name("peer");
  add.set_route_uri("tcp://10.0.0.2:9527");
  add.set_pub_uri("tcp://10.0.0.2:9526");
  add.set_type(qo::DEVICE_LINUX);
  add.set_public_key(keys.publicDer);
  EXPECT_EQ(Code(qo::MC_DEVICE_ADD_REQUEST, &add), 0);
  EXPECT_EQ(Code(qo::MC_DEVICE_ADD_REQUEST, &add), qo::ZE_EXIST);
  EXPECT_EQ(Count(uris::Device(), "trust = 0 AND online = 1 AND pubkey LIKE '-----BEGIN PUBLIC KEY%'"), 1);

  ASSERT_EQ(Code(qo::MC_DATABASE_CLEAR_REQUEST, nullptr), 0);  // signed with our own key
  EXPECT_EQ(Count(uris::Device()), 1);                          // only this device
  EXPECT_EQ(Count(uris::Config()), 11);                         // the configuration stays

  qo::MsgDeviceDeleteRequest remove;
  remove.set_uuid(kPeer);
  EXPECT_EQ(Code(qo::MC_DEVICE_DELETE_REQUEST, &remove), qo::ZE_NOENT);
}

TEST_F(AdminTest, WhoAsksDecidesWhatDeviceRequestsMayDo) {
  StartRouter();
  const auto self = config_.Snapshot();
  const std::string own = self->deviceUuid;
  const auto friendKeys = protocol::ssl::GenerateKeyPair();
  constexpr const char* kOtherFriend = "0d7c8a3e-1b2c-4d5e-8f60-123456789abd";
  constexpr const char* kStranger = "0d7c8a3e-1b2c-4d5e-8f60-123456789abe";
  InsertDevice(kPeer, 1, friendKeys.publicDer);
  InsertDevice(kOtherFriend, 1, protocol::ssl::GenerateKeyPair().publicDer);
  InsertDevice(kStranger, 0, protocol::ssl::GenerateKeyPair().publicDer);
  ASSERT_TRUE(test::WaitFor([&] { return !keys_->GetPublicKey(kPeer, true).empty(); }, std::chrono::seconds(2)));

  // Unsigned, the device list is this device alone, whoever the head names.
  const auto shown = [&](const std::string& uuid, const std::string& key, const std::string& answerKey = {}) {
    std::string answer;
    EXPECT_EQ(AskAs(uuid, key, qo::MC_DEVICE_SHOW_REQUEST, nullptr, &answer, answerKey), 0);
    qo::MsgDeviceShowResponse devices;
    EXPECT_TRUE(devices.ParseFromString(answer));
    std::vector<std::string> uuids;
    for (const qo::DeviceInfo& d : devices.devices()) uuids.push_back(d.uuid());
    return uuids;
  };
  EXPECT_EQ(shown(kStranger, ""), std::vector<std::string>{own});
  EXPECT_EQ(shown(kPeer, "", friendKeys.privateDer), std::vector<std::string>{own});
  EXPECT_EQ(shown(kPeer, friendKeys.privateDer).size(), 4u);
  EXPECT_EQ(shown(own, self->privateKey).size(), 4u);

  // Adding a device takes this device's own key.
  qo::MsgDeviceAddRequest add;
  add.set_uuid("0d7c8a3e-1b2c-4d5e-8f60-123456789abf");
  add.set_name("added");
  add.set_route_uri("tcp://10.0.0.3:9527");
  add.set_pub_uri("tcp://10.0.0.3:9526");
  add.set_type(qo::DEVICE_LINUX);
  add.set_public_key(protocol::ssl::GenerateKeyPair().publicDer);
  EXPECT_EQ(AskAs(kStranger, "", qo::MC_DEVICE_ADD_REQUEST, &add), qo::ZE_PERMISSION_DENY);
  EXPECT_EQ(AskAs(kPeer, friendKeys.privateDer, qo::MC_DEVICE_ADD_REQUEST, &add), qo::ZE_PERMISSION_DENY);
  EXPECT_EQ(Count(uris::Device(), "name = 'added'"), 0);
  EXPECT_EQ(AskAs(own, self->privateKey, qo::MC_DEVICE_ADD_REQUEST, &add), 0);

  // A peer deletes only its own row; this device any row but its own.
  struct Case {
    std::string sender;
    std::string key;
    std::string target;
    int error;
  };
  const Case cases[] = {
      {kPeer, friendKeys.privateDer, kOtherFriend, qo::ZE_PERMISSION_DENY},
      {kPeer, friendKeys.privateDer, own, qo::ZE_PERMISSION_DENY},
      {own, self->privateKey, own, qo::ZE_PERMISSION_DENY},
      {kStranger, "", kStranger, qo::ZE_PERMISSION_DENY},  // unsigned
      {kPeer, friendKeys.privateDer, kPeer, 0},
      {own, self->privateKey, kOtherFriend, 0},
      {own, self->privateKey, kStranger, 0},
  };
  for (const Case& c : cases) {
    qo::MsgDeviceDeleteRequest remove;
    remove.set_uuid(c.target);
    EXPECT_EQ(AskAs(c.sender, c.key, qo::MC_DEVICE_DELETE_REQUEST, &remove), c.error) << c.sender << " " << c.target;
  }
  EXPECT_EQ(Count(uris::Device()), 2);  // this device and the one added
  EXPECT_EQ(Count(uris::Device(), ("uuid = '" + own + "'").c_str()), 1);
}

}  // namespace
}  // namespace morvex::peer
