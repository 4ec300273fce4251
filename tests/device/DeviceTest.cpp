#include "device/Device.h"

#include <gtest/gtest.h>

#include "device/KeyManager.h"
#include "protocol/SslUtils.h"
#include "store/StoreFixture.h"
#include "support/LogCapture.h"

namespace morvex::device {
namespace {

namespace ssl = protocol::ssl;

class DeviceTest : public store::StoreFixture {
 protected:
  static void SetUpTestSuite() {
    self_ = ssl::GenerateKeyPair();
    peer_ = ssl::GenerateKeyPair();
  }
  qo::MsgDiscoverWin Datagram(const std::string& host, int routePort) {
    qo::MsgDiscoverWin datagram;
    datagram.set_src_host(host);
    qo::MsgDiscover& inner = *datagram.mutable_discover();
    inner.set_is_response(qo::PB_FALSE);
    inner.set_device_uuid("0d7c8a3e-1b2c-4d5e-8f60-123456789abc");
    inner.set_device_name("peer");
    inner.set_device_type(qo::DEVICE_LINUX);
    inner.set_route_port(routePort);
    inner.set_pub_port(9526);
    inner.set_public_key(peer_.publicDer);
    return datagram;
  }
  static ssl::KeyPairDer self_;
  static ssl::KeyPairDer peer_;
};
ssl::KeyPairDer DeviceTest::self_;
ssl::KeyPairDer DeviceTest::peer_;

TEST_F(DeviceTest, DiscoveredDevicesAreInsertedMergedAndSavedByChangedColumns) {
  CDevice learnt = CDevice::FromDiscover(Datagram("10.0.0.2", 9527));
  EXPECT_EQ(learnt.routeUri, "tcp://10.0.0.2:9527");
  EXPECT_EQ(learnt.trust, 0);
  EXPECT_EQ(learnt.deviceClass, qo::DEVICE_DYNAMIC);
  ASSERT_TRUE(learnt.Insert());
  ASSERT_GT(learnt.id, 0);

  CDevice stored;
  ASSERT_TRUE(stored.LoadByUuid("0d7c8a3e-1b2c-4d5e-8f60-123456789abc"));
  EXPECT_EQ(stored.pubkey, ssl::DerToPemPublic(peer_.publicDer));
  EXPECT_FALSE(stored.MergeDiscover(Datagram("10.0.0.2", 9527)));  // nothing new
  EXPECT_TRUE(stored.MergeDiscover(Datagram("10.0.0.2", 9600)));
  EXPECT_EQ(stored.dirty, CDevice::kDirtyRouteUri);
  ASSERT_TRUE(Db().Exec("UPDATE Device SET name = 'renamed elsewhere'"));
  EXPECT_TRUE(stored.Save());

  CDevice reread;
  ASSERT_TRUE(reread.LoadById(learnt.id));
  EXPECT_EQ(reread.routeUri, "tcp://10.0.0.2:9600");
  EXPECT_EQ(reread.name, "renamed elsewhere");  // only the dirty column was written
  EXPECT_EQ(reread.dirty, 0u);

  ASSERT_TRUE(Db().Exec("UPDATE DeviceTTL SET ttl = 1"));
  EXPECT_TRUE(reread.ResetTtl());
  EXPECT_EQ(Resolver().QueryInt(store::uris::DeviceTTL(), "ttl", -1, store::CSelection()), 3);
  EXPECT_TRUE(reread.SetTrusted());
  EXPECT_FALSE(CDevice().LoadById(9999));
}

TEST_F(DeviceTest, ATrustedDeviceKeepsItsKeyThroughAMerge) {
  qo::MsgDiscoverWin other = Datagram("10.0.0.9", 9700);
  other.mutable_discover()->set_public_key(self_.publicDer);
  for (const int trust : {0, 1}) {
    SCOPED_TRACE(trust);
    CDevice device = CDevice::FromDiscover(Datagram("10.0.0.2", 9527));
    device.trust = trust;
    EXPECT_TRUE(device.HasKey(peer_.publicDer));
    EXPECT_FALSE(device.HasKey(self_.publicDer));
    EXPECT_TRUE(device.MergeDiscover(other));
    EXPECT_EQ(device.HasKey(self_.publicDer), trust == 0);
    EXPECT_EQ((device.dirty & CDevice::kDirtyPubkey) != 0, trust == 0);
  }
}

TEST_F(DeviceTest, UntrustedRowsAreTrimmedLeastRecentlySeenFirst) {
  ASSERT_TRUE(Db().Exec("INSERT INTO Device (uuid, trust) VALUES ('old', 0), ('silent', 0), ('friend', 1), ('new', 0)"));
  ASSERT_TRUE(Db().Exec("UPDATE DeviceTTL SET ttl = 1 WHERE id = (SELECT id FROM Device WHERE uuid = 'silent')"));
  ASSERT_TRUE(Db().Exec("UPDATE DeviceTTL SET ttl = 0 WHERE id = (SELECT id FROM Device WHERE uuid = 'friend')"));
  const std::pair<int, const char*> steps[] = {{3, "old,silent,new"}, {2, "old,new"}, {1, "new"}, {0, ""}};
  for (const auto& [keep, left] : steps) {
    TrimUntrustedDevices(keep);
    std::string uuids;
    auto rows = Resolver().Query(store::uris::Device(), {"uuid"}, store::CSelection("trust = ? ").AddInt(0));
    while (rows && rows->MoveToNext()) uuids += (uuids.empty() ? "" : ",") + std::string(rows->GetString(0));
    EXPECT_EQ(uuids, left) << "keep " << keep;
  }
  EXPECT_EQ(Resolver().QueryInt(store::uris::Device(), "COUNT(*)", -1, store::CSelection("uuid = 'friend'")), 1);
}

TEST_F(DeviceTest, KeysThatDoNotConvertAreStoredEmptyWithAWarning) {
  test::LogCapture log;
  qo::MsgDiscoverWin datagram = Datagram("10.0.0.3", 9527);
  datagram.mutable_discover()->set_public_key("not a key");
  EXPECT_EQ(CDevice::FromDiscover(datagram).pubkey, "");
  EXPECT_TRUE(log.Has(google::GLOG_WARNING, "Failed to convert RKF_DER to RKF_PEM"));
}

TEST_F(DeviceTest, KeyStoreFollowsTrustAndTheDeviceTable) {
  const std::string selfUuid = "11111111-1111-4111-8111-111111111111";
  const std::string peerUuid = "0d7c8a3e-1b2c-4d5e-8f60-123456789abc";
  CDevice self;
  self.uuid = selfUuid;
  self.trust = 1;
  self.pubkey = ssl::DerToPemPublic(self_.publicDer);
  self.Insert();
  CDevice peer = CDevice::FromDiscover(Datagram("10.0.0.2", 9527));
  peer.Insert();
  ASSERT_TRUE(Db().Exec("INSERT INTO Device (uuid, trust, pubkey) VALUES ('keyless', 1, '')"));

  CKeyManager keys(self_.privateDer);
  EXPECT_EQ(keys.GetPrivateKey(), self_.privateDer);
  EXPECT_EQ(keys.GetPublicKey(selfUuid, true), self_.publicDer);  // own key passes the trusted lookup
  EXPECT_EQ(keys.GetPublicKey(peerUuid, true), "");
  EXPECT_EQ(keys.GetPublicKey(peerUuid, false), peer_.publicDer);
  EXPECT_EQ(keys.GetPublicKey("keyless", true), "");
  EXPECT_EQ(keys.GetPublicKey("nobody", false), "");

  ASSERT_TRUE(peer.SetTrusted());
  EXPECT_EQ(keys.GetPublicKey(peerUuid, true), peer_.publicDer);
  ResetDevices(selfUuid);  // trusted devices stay, offline
  EXPECT_EQ(keys.GetPublicKey(peerUuid, true), peer_.publicDer);
  EXPECT_EQ(Count(store::uris::Device(), "online = 1"), 0);
  ASSERT_EQ(Resolver().Delete(store::uris::Device(), store::CSelection("uuid = ? ").AddString(peerUuid)), 1);
  EXPECT_EQ(keys.GetPublicKey(peerUuid, true), "");
}

}  // namespace
}  // namespace morvex::device
