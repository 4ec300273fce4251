#include <gtest/gtest.h>

#include <set>

#include "Morvex.pb.h"
#include "protocol/Identity.h"
#include "protocol/SslUtils.h"

namespace morvex::protocol {
namespace {

TEST(Uuid, ValidityTable) {
  const std::pair<const char*, bool> cases[] = {
      {"0d7c8a3e-1b2c-4d5e-8f60-123456789abc", true},
      {"0d7c8a3e-1b2c-1d5e-bf60-123456789abc", true},
      {"0D7C8A3E-1B2C-4D5E-8F60-123456789ABC", false},  // upper case
      {"0d7c8a3e-1b2c-0d5e-8f60-123456789abc", false},  // version 0
      {"0d7c8a3e-1b2c-6d5e-8f60-123456789abc", false},  // version 6
      {"0d7c8a3e-1b2c-4d5e-cf60-123456789abc", false},  // variant c
      {"0d7c8a3e1b2c4d5e8f60123456789abc", false},
      {"", false},
      {"0d7c8a3e-1b2c-4d5e-8f60-123456789abc\n", false},
  };
  for (const auto& [text, valid] : cases) EXPECT_EQ(IsValidUuid(text), valid) << text;
  std::set<std::string> made;
  for (int i = 0; i < 50; ++i) {
    const std::string uuid = NewUuid();
    EXPECT_TRUE(IsValidUuid(uuid)) << uuid;
    EXPECT_EQ(uuid[14], '4');
    made.insert(uuid);
  }
  EXPECT_EQ(made.size(), 50u);
  EXPECT_LE(ComputerName().size(), 15u);
  EXPECT_FALSE(ComputerName().empty());
}
TEST(DiscoveryDatagram, TheWorkedExampleHasItsSizes) {
  const auto keys = ssl::GenerateKeyPair();
  ASSERT_EQ(keys.publicDer.size(), 292u);  // 2048 bits, exponent 3
  qo::MsgDiscover discover;
  discover.set_is_response(qo::PB_FALSE);
  discover.set_device_uuid("0d7c8a3e-1b2c-4d5e-8f60-123456789abc");
  discover.set_device_name("abcdef");
  discover.set_device_type(qo::DEVICE_LINUX);
  discover.set_route_port(9527);
  discover.set_pub_port(9526);
  discover.set_public_key(keys.publicDer);
  const std::string plain = discover.SerializeAsString();
  ASSERT_EQ(plain.size(), 351u);
  EXPECT_EQ(plain.substr(0, 2), std::string("\x08\x00", 2));
  EXPECT_EQ(plain.substr(48, 6), std::string("\x28\x01\x30\xB7\x4A\x38", 6));
  std::string cipher;
  ASSERT_TRUE(ssl::AesCipher(ssl::DeriveTokenKey("token")).Encrypt(plain, cipher));
  EXPECT_EQ(cipher.size(), 352u);
}

}  // namespace
}  // namespace morvex::protocol
