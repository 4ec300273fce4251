#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/wire_format_lite.h>
#include <gtest/gtest.h>

#include "Morvex.pb.h"
#include "protocol/ErrorText.h"

namespace {

using google::protobuf::Descriptor;
using google::protobuf::internal::WireFormatLite;

struct Tag {
  int number;
  WireFormatLite::WireType wire_type;
  bool operator==(const Tag&) const = default;
};

// Walks the encoded bytes and returns the tags in the order they appear.
std::vector<Tag> TagsOf(const std::string& bytes) {
  google::protobuf::io::CodedInputStream in(
      reinterpret_cast<const std::uint8_t*>(bytes.data()),
      static_cast<int>(bytes.size()));
  std::vector<Tag> tags;
  while (const std::uint32_t tag = in.ReadTag()) {
    tags.push_back({WireFormatLite::GetTagFieldNumber(tag),
                    WireFormatLite::GetTagWireType(tag)});
    if (!WireFormatLite::SkipField(&in, tag)) {
      ADD_FAILURE() << "malformed field " << tags.back().number;
      break;
    }
  }
  EXPECT_TRUE(in.ConsumedEntireMessage());
  return tags;
}

TEST(Schema, StatEncodesFieldsInNumberOrderWithUnpackedClock) {
  qo::Stat stat;
  stat.set_path("docs/a.txt");
  stat.set_type(qo::DIR);
  stat.set_status(qo::NORMAL);
  stat.add_vclock(3);
  stat.add_vclock(7);
  stat.set_length(42);
  stat.set_mtime(1700000000000);
  stat.set_sha1("da39a3ee5e6b4b0d3255bfef95601890afd80709");
  stat.set_modifier(1);
  stat.set_usn(99);
  stat.set_win_attr(0x20);
  stat.set_unix_attr(0644);
  stat.set_android_attr(5);

  constexpr auto kVarint = WireFormatLite::WIRETYPE_VARINT;
  constexpr auto kBytes = WireFormatLite::WIRETYPE_LENGTH_DELIMITED;
  const std::vector<Tag> expected = {
      {1, kBytes},   {2, kVarint},  {3, kVarint},  {4, kVarint},
      {4, kVarint},  {5, kVarint},  {6, kVarint},  {8, kBytes},
      {9, kVarint},  {10, kVarint}, {11, kVarint}, {12, kVarint},
      {13, kVarint},
  };
  EXPECT_EQ(TagsOf(stat.SerializeAsString()), expected);
}

TEST(Schema, UnusedFieldNumbersStayUnused) {
  const std::vector<std::pair<const Descriptor*, int>> gaps = {
      {qo::MsgDiscover::descriptor(), 2},
      {qo::Stat::descriptor(), 7},
      {qo::MsgFindResponse::descriptor(), 1},
      {qo::Tree::descriptor(), 4},
  };
  for (const auto& [message, missing] : gaps) {
    SCOPED_TRACE(message->full_name());
    EXPECT_EQ(message->FindFieldByNumber(missing), nullptr);
    // The neighbours exist, so the hole really sits inside the numbering.
    if (missing > 1) {
      EXPECT_NE(message->FindFieldByNumber(missing - 1), nullptr);
    }
    EXPECT_NE(message->FindFieldByNumber(missing + 1), nullptr);
  }
  EXPECT_EQ(qo::MsgFindResponse::descriptor()->field(0)->number(), 2);
}

TEST(Schema, InProcessReadyHeadIsFiveBytes) {
  qo::MsgHead head;
  head.set_code(qo::MC_WIN_WORKER_READY);
  head.set_level(qo::EL_NONE);
  EXPECT_EQ(head.SerializeAsString(), std::string("\x08\xC8\x01\x10\x00", 5));
}

TEST(Schema, HeadMissingARequiredFieldDoesNotParse) {
  const std::vector<std::string> partial = {
      std::string(),                       // neither code nor level
      std::string("\x08\xC8\x01", 3),      // code only
      std::string("\x10\x00", 2),          // level only
      std::string("\x1A\x01x\x10\x02", 5),  // uuid and level, no code
  };
  for (const auto& bytes : partial) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    qo::MsgHead head;
    EXPECT_FALSE(head.ParseFromString(bytes));
  }
}

TEST(Schema, EmptyDeviceListIsAnEmptyBody) {
  const qo::MsgDeviceShowResponse empty;
  const std::string bytes = empty.SerializeAsString();
  EXPECT_TRUE(bytes.empty());

  qo::MsgDeviceShowResponse parsed;
  ASSERT_TRUE(parsed.ParseFromString(bytes));
  EXPECT_EQ(parsed.devices_size(), 0);
}

TEST(Schema, ErrorTexts) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "Ooops! unknown error code"},  {1, "general error"},
      {4, "bad format"},                 {13, "syncdir mismatch"},
      {17, "sync with myself"},          {18, "Ooops! unknown error code"},
      {22, "Ooops! unknown error code"}, {-1, "Ooops! unknown error code"},
      {99, "Ooops! unknown error code"},
  };
  for (const auto& [code, text] : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(morvex::protocol::ErrorText(code), text);
  }
}

TEST(Schema, EnumNumbersAndNames) {
  const std::vector<std::pair<int, int>> cases = {
      {qo::MC_LINUX_STATUS_REQUEST, 333},
      {qo::MC_LINUX_CONFIG_SET_REQUEST, 335},
      {qo::MC_TEST_TRUST_RESPONSE, 425},
      {qo::MC_DEVICE_CHANGE, 700},
      {qo::ZE_MSG_TAMPERING, 22},
      {qo::DEVICE_LINUX, 1},
      {qo::RT_DESKTOP, 10},
      {qo::FINISH, -1},
  };
  for (const auto& [value, number] : cases) {
    SCOPED_TRACE(number);
    EXPECT_EQ(value, number);
  }
  EXPECT_EQ(qo::MsgCode_Name(qo::MC_FIND_REQUEST), "MC_FIND_REQUEST");
}

}  // namespace
