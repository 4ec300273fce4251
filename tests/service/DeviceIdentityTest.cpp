#include "service/DeviceIdentity.h"

#include <gtest/gtest.h>

#include "protocol/Identity.h"
#include "protocol/SslUtils.h"
#include "store/StoreFixture.h"

namespace morvex::service {
namespace {

namespace uris = store::uris;

// The options of a command line the parser accepts.
CommandLineOptions Options(const std::vector<std::string>& words) {
  const ParsedCommandLine parsed = ParseCommandLine(words);
  EXPECT_TRUE(parsed.Ok()) << parsed.error;
  return parsed.options;
}

class DeviceIdentityTest : public store::StoreFixture {
 protected:
  // A device as a first headless start leaves it.
  std::string FirstStart(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> words = {"morvex", "--headless", "-t", "pw", "-n", "box"};
    words.insert(words.end(), extra.begin(), extra.end());
    const auto options = Options(words);
    config::CKelmConfigManager holder;
    ApplyOptions(options, holder);
    SetUpDeviceIdentity(holder, false, [] { return true; });
    config::CKelmConfigManager config;
    EXPECT_EQ(CheckOwnDevice(config, [&] { return HeadlessFirstStart(options); }), 0);
    return config.Snapshot()->deviceUuid;
  }
};

TEST_F(DeviceIdentityTest, AHeadlessFirstStartNeedsAPasswordAndMakesACompleteIdentity) {
  config::CKelmConfigManager config;
  testing::internal::CaptureStderr();
  EXPECT_EQ(CheckOwnDevice(config, [] { return HeadlessFirstStart(Options({"morvex", "--headless"})); }), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(kTextNeedToken), std::string::npos);
  EXPECT_EQ(Count(uris::Device()), 0);

  const std::string uuid = FirstStart();
  ASSERT_TRUE(protocol::IsValidUuid(uuid));
  config.Load();
  const auto v = config.Snapshot();
  EXPECT_EQ(v->deviceName, "box");
  EXPECT_EQ(v->token, "pw");
  EXPECT_EQ(v->feedBack, "first");
  EXPECT_GT(v->firstTime, 0);
  EXPECT_EQ(protocol::ssl::PublicDerOfPrivate(v->privateKey), v->publicKey);
  EXPECT_EQ(Count(uris::Device(), "trust = 1 AND class = 0 AND online = 1 AND type = 1"), 1);

  // A second start keeps the identity; a default-valued option does not
  // replace a stored value.
  ASSERT_TRUE(Db().Exec("UPDATE Config SET value = 9000 WHERE name = 'RoutePort'"));
  EXPECT_EQ(FirstStart({"-r", "9527"}), uuid);
  config.Load();
  EXPECT_EQ(config.Snapshot()->routePort, 9000);
  EXPECT_EQ(Count(uris::Device()), 1);
}

TEST_F(DeviceIdentityTest, CreateResetsTheDeviceButKeepsUsnAndConfigRows) {
  const std::string first = FirstStart();
  ASSERT_TRUE(Db().Exec("INSERT INTO Usn VALUES ('x', 5)"));
  ASSERT_TRUE(Db().Exec("INSERT INTO Tree (tree_uuid, tree_root) VALUES ('t', '/data')"));
  ASSERT_TRUE(Db().Exec("INSERT INTO VCUuid VALUES (1, 'c', 1)"));
  config::CKelmConfigManager before;
  before.Load();

  // Refused: nothing changes, not even the UUID (peers trust it), and
  // not the other options given with -c either.
  config::CKelmConfigManager holder;
  ApplyOptions(Options({"morvex", "-c", "-n", "other"}), holder);
  EXPECT_FALSE(SetUpDeviceIdentity(holder, true, [] { return false; }));
  config::CKelmConfigManager afterCancel;
  afterCancel.Load();
  EXPECT_EQ(afterCancel.Snapshot()->deviceUuid, first);
  EXPECT_EQ(afterCancel.Snapshot()->deviceName, "box");
  EXPECT_EQ(Count(uris::Tree()), 1);
  EXPECT_EQ(Count(uris::Device(), ("uuid = '" + first + "'").c_str()), 1);

  // Confirmed: everything of the old identity goes, Usn stays.
  config::CKelmConfigManager create;
  ApplyOptions(Options({"morvex", "-c", "-t", "new"}), create);
  EXPECT_TRUE(SetUpDeviceIdentity(create, true, [] { return true; }));
  config::CKelmConfigManager after;
  after.Load();
  const auto v = after.Snapshot();
  EXPECT_TRUE(protocol::IsValidUuid(v->deviceUuid));
  EXPECT_NE(v->deviceUuid, first);
  EXPECT_EQ(v->deviceName, protocol::ComputerName());
  EXPECT_EQ(v->token, "new");
  EXPECT_EQ(v->feedBack, "");
  EXPECT_EQ(v->firstTime, 0);
  EXPECT_NE(v->privateKey, before.Snapshot()->privateKey);
  EXPECT_EQ(Count(uris::Usn()), 1);
  EXPECT_EQ(Count(uris::Tree()) + Count(uris::VCUuid()), 0);
  EXPECT_EQ(Count(uris::Device()), 1);
  EXPECT_EQ(Count(uris::Config()), 11);
}

}  // namespace
}  // namespace morvex::service
