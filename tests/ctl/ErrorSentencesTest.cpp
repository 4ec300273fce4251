#include "ctl/ErrorSentences.h"

#include <gtest/gtest.h>

#include <set>

#include "Morvex.pb.h"

namespace morvex::ctl {
namespace {

// Every code an answer can carry reads as a sentence of its own with the
// names filled in, and no code name reaches the user.
TEST(ErrorSentence, EveryErrorCodeHasItsOwnSentence) {
  const SentenceNames names{.peer = "host2", .self = "host1"};
  std::set<std::string> seen;
  for (int code = qo::ErrorCode_MIN; code <= qo::ErrorCode_MAX; ++code) {
    ASSERT_TRUE(qo::ErrorCode_IsValid(code)) << code;
    const std::string sentence = ErrorSentence(code, names);
    const std::string name = qo::ErrorCode_Name(code);
    EXPECT_FALSE(sentence.empty()) << name;
    EXPECT_EQ(sentence.find("ZE_"), std::string::npos) << name << ": " << sentence;
    EXPECT_EQ(sentence.find('{'), std::string::npos) << name << ": " << sentence;
    EXPECT_EQ(sentence.find("unknown error"), std::string::npos) << name;
    EXPECT_TRUE(seen.insert(sentence).second) << name << " shares its sentence: " << sentence;
  }
  EXPECT_EQ(ErrorSentence(qo::ZE_UNTRUSTED, names),
            "host2 does not trust this device: run 'morvexctl trust request host2', then ask its owner to run "
            "'morvexctl trust accept host1'");
  EXPECT_NE(ErrorSentence(qo::ErrorCode_MAX + 1, names).find("unknown error"), std::string::npos);
  EXPECT_NE(ErrorSentence(-1, names).find("unknown error"), std::string::npos);
}

// A peer that does not answer is never read as the local service being down.
TEST(ErrorSentence, PeerAndLocalServiceSilenceReadDifferently) {
  const std::string peer = PeerUnreachable("host2");
  const std::string local = ServiceNoAnswer(9527, 5);
  EXPECT_NE(peer.find("host2 did not answer"), std::string::npos) << peer;
  EXPECT_EQ(peer.find("service on port"), std::string::npos) << peer;
  EXPECT_NE(local.find("no answer from the Morvex service on port 9527 within 5 s"), std::string::npos) << local;
}

}  // namespace
}  // namespace morvex::ctl
