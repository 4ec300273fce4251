// A database with devices, a desktop context around it, and trust actions
// that are recorded instead of sent.
#pragma once

#include <QCoreApplication>
#include <string>
#include <vector>

#include "config/KelmConfig.h"
#include "desktop/DesktopContext.h"
#include "desktop/TrustActions.h"
#include "store/StoreFixture.h"

namespace morvex::desktop {

class RecordedActions final : public ITrustActions {
 public:
  void Offer(const std::string& uuid, int timeout) override {
    done.push_back("offer " + uuid + " " + std::to_string(timeout));
  }
  void Accept(const std::string& uuid) override { done.push_back("accept " + uuid); }
  void Refuse(const std::string& uuid) override { done.push_back("refuse " + uuid); }
  void EndTrust(const std::string& uuid) override { done.push_back("end " + uuid); }
  std::vector<std::string> done;
};

class NoKeys final : public protocol::IKeyManager {
 public:
  std::string GetPrivateKey() override { return {}; }
  std::string GetPublicKey(const std::string&, bool) override { return {}; }
};

class DesktopFixture : public store::StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    config_.SetDeviceUuid("aa-own");
    // type: 0 Windows, 1 Linux, 3 Android.
    ASSERT_TRUE(Db().Exec(
        "INSERT INTO Device (uuid, name, route_uri, type, trust, online) VALUES "
        "('aa-own', 'own', 'tcp://10.0.0.1:9527', 1, 1, 1), "
        "('bb-friend', 'friend', 'tcp://10.0.0.2:9527', 0, 1, 0), "
        "('cc-stranger', 'stranger', 'tcp://10.0.0.3:9527', 3, 0, 1)"));
  }
  int32_t IdOf(const std::string& uuid) {
    return Resolver().QueryInt(store::uris::Device(), "id", 0, store::CSelection("uuid = ? ").AddString(uuid));
  }
  // Runs what was posted to the windows.
  static void Deliver() { QCoreApplication::processEvents(); }

  platform::MessageLoop loop_;
  config::CKelmConfigManager config_;
  NoKeys keys_;
  protocol::ZmqContext zmq_;
  DesktopContext context_{loop_, config_, keys_, zmq_, [] { return false; }, ""};
  RecordedActions actions_;
};

}  // namespace morvex::desktop
