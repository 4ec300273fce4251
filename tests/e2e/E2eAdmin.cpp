// Administration requests to a local service for the test hosts: what the
// desktop's link wizard sends, reduced to raw requests.
//
//   e2e_admin METADIR tree-add SYNC_UUID TREE_UUID ROOT
//   e2e_admin METADIR sync-add LOCAL_TREE SYNC_UUID REMOTE_TREE REMOTE_ROOT REMOTE_DEVICE
//   e2e_admin METADIR sync-once LOCAL_TREE REMOTE_TREE
//   e2e_admin METADIR catch-trust-offer SECONDS TOKEN_FILE
//       stands in for this device's stopped service on its route port,
//       answers the first trust offer that arrives and keeps its token
//   e2e_admin METADIR send-trust DEVICE_UUID TOKEN_FILE
//       redeems a token with DEVICE as `trust accept` would; prints
//       TRUST_ALLOW or TRUST_DENY
//
// Exit 0 on success, 1 with the service's error on standard error, 2 on
// bad usage.
#include <fstream>
#include <iostream>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "Morvex.pb.h"
#include "ctl/CtlClient.h"
#include "device/Device.h"
#include "protocol/ProtectedMsg.h"
#include "protocol/SslUtils.h"
#include "protocol/ZmqSocket.h"

using namespace morvex;

namespace {

// The keys this device's database knows: its own and every device's.
class DatabaseKeys final : public protocol::IKeyManager {
 public:
  DatabaseKeys(const std::string& metadir, const ctl::LocalIdentity& self) : privateKey_(self.privateKey) {
    std::string error;
    if (ctl::OpenLocalDatabase(metadir, error)) {
      for (const device::CDevice& row : device::CDevice::LoadAll()) {
        keys_[row.uuid] = protocol::ssl::PemToDerPublic(row.pubkey);
      }
    }
    keys_[self.uuid] = self.publicKey;
  }
  std::string GetPrivateKey() override { return privateKey_; }
  std::string GetPublicKey(const std::string& uuid, bool) override {
    const auto found = keys_.find(uuid);
    return found == keys_.end() ? std::string() : found->second;
  }

 private:
  std::string privateKey_;
  std::map<std::string, std::string> keys_;
};

int CatchTrustOffer(const std::string& metadir, const ctl::LocalIdentity& self, int seconds, const std::string& file) {
  DatabaseKeys keys(metadir, self);
  protocol::ZmqContext zmq;
  protocol::ZmqSocket router(zmq, ZMQ_ROUTER);
  if (!router.Bind("tcp://*:" + std::to_string(self.routePort))) {
    std::cerr << "cannot bind the route port " << self.routePort << "\n";
    return 1;
  }
  std::cout << "listening" << std::endl;
  protocol::ZmqFrame identity;
  protocol::ZmqFrame empty;
  if (!router.WaitForInput(seconds * 1000) || !router.RecvFrame(identity) || !router.RecvFrame(empty)) {
    std::cerr << "no offer within " << seconds << " s\n";
    return 1;
  }
  protocol::CInMsg offer(keys);
  qo::MsgTrustPublishRequest publish;
  if (!offer.Recv(router, false, 5000) || offer.Code() != qo::MC_TRUST_PUBLISH_REQUEST ||
      !publish.ParseFromString(offer.Body())) {
    std::cerr << "not a trust offer\n";
    return 1;
  }
  std::ofstream(file, std::ios::binary) << publish.token();
  router.SendFrame(identity.Data(), identity.Size(), true);
  router.SendFrame(nullptr, 0, true);
  protocol::CMsgSender answer(router, self.uuid, self.privateKey, keys.GetPublicKey(offer.Head().uuid(), false));
  answer.Send(qo::MC_TRUST_PUBLISH_RESPONSE, nullptr, false);
  return 0;
}

int SendTrust(const std::string& metadir, ctl::CtlClient& client, const std::string& device, const std::string& file) {
  std::string error;
  const auto peer = ctl::ReadPeerDevice(metadir, device, error);
  if (!peer) {
    std::cerr << error << "\n";
    return 1;
  }
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  std::string token(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
  in.seekg(0);
  in.read(token.data(), static_cast<std::streamsize>(token.size()));
  qo::MsgTrustRequest trust;
  trust.set_token(token);
  const ctl::CtlAnswer answer = client.RequestPeer(*peer, qo::MC_TRUST_REQUEST, &trust, 5000);
  qo::MsgTrustResponse result;
  if (answer.status != ctl::kExitOk || !result.ParseFromString(answer.body)) {
    std::cerr << answer.message << "\n";
    return 1;
  }
  std::cout << qo::TrustResult_Name(result.trust_result()) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) {
    std::cerr << "usage: e2e_admin METADIR COMMAND ARGS...\n";
    return 2;
  }
  std::string error;
  const auto identity = ctl::ReadLocalIdentity(args[0], error);
  if (!identity) {
    std::cerr << error << "\n";
    return 1;
  }
  ctl::CtlClient client(*identity);
  ctl::CtlAnswer answer;
  const std::string& command = args[1];
  if (command == "tree-add" && args.size() == 5) {
    qo::MsgTreeAddRequest add;
    add.set_sync_uuid(args[2]);
    add.set_tree_uuid(args[3]);
    add.set_tree_root(args[4]);
    answer = client.Request(qo::MC_TREE_ADD_REQUEST, &add);
  } else if (command == "sync-add" && args.size() == 7) {
    qo::MsgSyncAddRequest add;
    add.set_local_tree_uuid(args[2]);
    add.set_remote_sync_uuid(args[3]);
    add.set_remote_tree_uuid(args[4]);
    add.set_remote_tree_root(args[5]);
    add.set_remote_device_uuid(args[6]);
    answer = client.Request(qo::MC_SYNC_ADD_REQUEST, &add);
  } else if (command == "sync-once" && args.size() == 4) {
    qo::MsgSyncOnceRequest once;
    once.set_local_tree_uuid(args[2]);
    once.set_remote_tree_uuid(args[3]);
    answer = client.Request(qo::MC_SYNC_ONCE_REQUEST, &once);
  } else if (command == "catch-trust-offer" && args.size() == 4) {
    return CatchTrustOffer(args[0], *identity, std::stoi(args[2]), args[3]);
  } else if (command == "send-trust" && args.size() == 4) {
    return SendTrust(args[0], client, args[2], args[3]);
  } else {
    std::cerr << "unknown command or wrong arguments: " << command << "\n";
    return 2;
  }
  if (answer.status != ctl::kExitOk) {
    std::cerr << answer.message << "\n";
    return answer.status;
  }
  if (answer.code == qo::MC_ERROR) {
    qo::MsgError failure;
    failure.ParseFromString(answer.body);
    std::cerr << qo::ErrorCode_Name(failure.errcode()) << "\n";
    return 1;
  }
  return 0;
}
