#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "config/KelmConfig.h"
#include "device/KeyManager.h"
#include "peer/PeerContext.h"
#include "peer/RespRouter.h"
#include "peer/TrustBook.h"
#include "peer/PrivateNetwork.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/ProtectedMsg.h"
#include "service/DeviceIdentity.h"
#include "store/StoreFixture.h"

namespace morvex::peer {

// A device with a real store, identity, key store and response router, its
// broadcasts going to loopback, inside the test's private network.
class PeerFixture : public store::StoreFixture {
 protected:
  void SetUp() override {
    if (!test::InPrivateNetwork()) GTEST_SKIP() << "needs root for a private network namespace";
    StoreFixture::SetUp();
    config::CKelmConfigManager identity;
    identity.SetToken("secret");
    identity.SetDeviceName("self");
    service::CreateIdentity(identity);
    config_.Load();
    keys_ = std::make_unique<device::CKeyManager>(config_.Snapshot()->privateKey);
    peer_ = std::make_unique<PeerContext>(PeerContext{
        zmq_, config_, *keys_, trust_, [] { return std::optional<std::vector<std::string>>({"127.255.255.255"}); },
        metadir_ / "Morvex", {}, {}});
    exit_ = std::make_unique<protocol::ZmqSocket>(zmq_, ZMQ_PUB);
    exit_->Bind(protocol::endpoints::kPubExit);
  }

  void TearDown() override {
    if (router_) {
      while (!router_->Finished()) {
        exit_->SendFrame(nullptr, 0, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      router_.reset();
    }
    exit_.reset();
    peer_.reset();
    keys_.reset();
    if (test::InPrivateNetwork()) StoreFixture::TearDown();
  }

  void StartRouter() {
    router_ = std::make_unique<CRespRouter>(*peer_, std::chrono::hours(1));
    router_->Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // bound and workers ready
  }

  // One request to the local route port, signed as this device (as its
  // tools do); returns the receive error (0) and fills code and body.
  int Ask(int code, const google::protobuf::MessageLite* body, int& answerCode, std::string& answerBody,
          int waitMs = 5000) {
    const auto self = config_.Snapshot();
    protocol::ZmqSocket socket(zmq_, ZMQ_REQ);
    socket.Connect("tcp://127.0.0.1:" + std::to_string(self->routePort));
    protocol::CMsgSender out(socket, self->deviceUuid, self->privateKey, self->publicKey);
    EXPECT_TRUE(out.Send(code, body, false));
    protocol::CInMsg in(*keys_);
    in.Recv(socket, false, waitMs);
    answerCode = in.Code();
    answerBody = in.Body();
    return in.ReceiveError();
  }

  protocol::ZmqContext zmq_;
  config::CKelmConfigManager config_;
  std::unique_ptr<device::CKeyManager> keys_;
  TrustBook trust_;
  std::unique_ptr<PeerContext> peer_;
  std::unique_ptr<protocol::ZmqSocket> exit_;
  std::unique_ptr<CRespRouter> router_;
};

}  // namespace morvex::peer
