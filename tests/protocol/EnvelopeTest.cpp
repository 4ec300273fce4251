#include <gtest/gtest.h>

#include "Morvex.pb.h"
#include "protocol/ErrorText.h"
#include "protocol/QoMsg.h"
#include "protocol/ZmqSocket.h"

namespace morvex::protocol {
namespace {

// A connected PUSH/PULL pair over inproc, the way workers talk.
class EnvelopeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pull_.Bind("inproc://envelope-test"));
    ASSERT_TRUE(push_.Connect("inproc://envelope-test"));
  }
  ZmqContext context_;
  ZmqSocket pull_{context_, ZMQ_PULL};
  ZmqSocket push_{context_, ZMQ_PUSH};
};

TEST_F(EnvelopeTest, HeadAndBodyArriveAsSent) {
  qo::MsgWinSync body;
  body.set_sync_id(7);
  push_.SendMsg(qo::MC_WIN_SYNC, &body);
  push_.SendMsg(qo::MC_WIN_WORKER_READY);

  CQoMsg withBody;
  ASSERT_TRUE(withBody.Recv(pull_, false, 1000));
  EXPECT_EQ(withBody.Code(), qo::MC_WIN_SYNC);
  EXPECT_EQ(withBody.Level(), qo::EL_NONE);
  EXPECT_FALSE(withBody.Head().has_uuid());
  ASSERT_TRUE(withBody.HasBody());
  qo::MsgWinSync parsed;
  ASSERT_TRUE(withBody.ParseBody(parsed));
  EXPECT_EQ(parsed.sync_id(), 7);

  CQoMsg headOnly;
  ASSERT_TRUE(headOnly.Recv(pull_, false, 1000));
  EXPECT_EQ(headOnly.Code(), qo::MC_WIN_WORKER_READY);
  EXPECT_FALSE(headOnly.HasBody());
  EXPECT_EQ(headOnly.ReceiveError(), 0);
}

TEST_F(EnvelopeTest, ReceiveFailuresMapToErrorCodes) {
  CQoMsg nothing;
  EXPECT_FALSE(nothing.Recv(pull_, false, 50));
  EXPECT_EQ(nothing.ReceiveError(), qo::ZE_OPERATE_TIMEOUT);

  // Head, body and one frame too many: refused, and the extra frame is gone.
  qo::MsgHead head;
  head.set_code(qo::MC_WIN_TIMER);
  head.set_level(qo::EL_NONE);
  push_.SendFrame(head.SerializeAsString(), true);
  push_.SendFrame("body", true);
  push_.SendFrame("extra", false);
  push_.SendFrame("not a head", false);
  push_.SendMsg(qo::MC_WIN_TIMER);

  CQoMsg tooMany;
  EXPECT_FALSE(tooMany.Recv(pull_, false, 1000));
  EXPECT_EQ(tooMany.ReceiveError(), qo::ZE_BAD_FORMAT);
  CQoMsg badHead;
  EXPECT_FALSE(badHead.Recv(pull_, false, 1000));
  EXPECT_EQ(badHead.ReceiveError(), qo::ZE_BAD_FORMAT);
  CQoMsg next;
  ASSERT_TRUE(next.Recv(pull_, false, 1000));  // at a message boundary again
  EXPECT_EQ(next.Code(), qo::MC_WIN_TIMER);
}

TEST_F(EnvelopeTest, SkipDelimiterDropsTheFirstFrameWhateverItHolds) {
  push_.SendFrame("routing-or-anything", true);
  push_.SendMsg(qo::MC_WIN_REPORT_STATUS);
  CQoMsg message;
  ASSERT_TRUE(message.Recv(pull_, true, 1000));
  EXPECT_EQ(message.Code(), qo::MC_WIN_REPORT_STATUS);
}

TEST_F(EnvelopeTest, ADelimiterWithoutAHeadIsRefusedAndTheNextMessageIsIntact) {
  push_.SendFrame("", false);  // what a peer's ROUTER delivers to a DEALER as a whole message
  push_.SendMsg(qo::MC_WIN_REPORT_STATUS, nullptr);
  push_.SendFrame("", true);
  push_.SendMsg(qo::MC_WIN_TIMER);

  CQoMsg alone;
  EXPECT_FALSE(alone.Recv(pull_, true, 1000));
  EXPECT_EQ(alone.ReceiveError(), qo::ZE_BAD_FORMAT);
  CQoMsg headOnly;  // a message without a delimiter: its head is skipped, nothing follows
  EXPECT_FALSE(headOnly.Recv(pull_, true, 1000));
  CQoMsg next;
  ASSERT_TRUE(next.Recv(pull_, true, 1000));
  EXPECT_EQ(next.Code(), qo::MC_WIN_TIMER);
}

TEST_F(EnvelopeTest, ABodyWithARepeatedFieldOverItsBoundIsRefused) {
  struct Case {
    int uuids;
    int vclock;
    bool parses;
  };
  const Case cases[] = {
      {limits::kClockEntries, limits::kClockEntries, true},
      {limits::kClockEntries + 1, 0, false},
      {0, limits::kClockEntries + 1, false},
  };
  for (const Case& c : cases) {
    qo::MsgGetRequest get;
    get.set_transfer(0);
    get.set_tree_uuid("t");
    get.set_path("/p");
    get.mutable_part()->set_offset(0);
    get.mutable_part()->set_length(1);
    for (int i = 0; i < c.uuids; ++i) get.add_uuids("u");
    for (int i = 0; i < c.vclock; ++i) get.add_vclock(1);
    push_.SendMsg(qo::MC_GET_REQUEST, &get);
    CQoMsg message;
    ASSERT_TRUE(message.Recv(pull_, false, 1000));
    qo::MsgGetRequest parsed;
    EXPECT_EQ(message.ParseBody(parsed), c.parses) << c.uuids << " uuids, " << c.vclock << " counters";
  }
  // Nested: one record of a listing page with too long a clock.
  qo::MsgFindResponse page;
  qo::Stat& stat = *page.add_stats();
  stat.set_path("/a");
  stat.set_sha1("");
  stat.set_usn(1);
  for (int i = 0; i <= limits::kClockEntries; ++i) stat.add_vclock(1);
  std::string why;
  EXPECT_FALSE(limits::WithinLimits(page, why));
  EXPECT_NE(why.find("qo.Stat.vclock"), std::string::npos) << why;
}

TEST_F(EnvelopeTest, ErrorRepliesCarryCodeAndText) {
  push_.SendError(qo::ZE_BAD_PATH);
  CQoMsg reply;
  ASSERT_TRUE(reply.Recv(pull_, false, 1000));
  EXPECT_EQ(reply.Code(), qo::MC_ERROR);
  qo::MsgError error;
  ASSERT_TRUE(reply.ParseBody(error));
  EXPECT_EQ(error.errcode(), qo::ZE_BAD_PATH);
  EXPECT_EQ(error.errstr(), "bad path");
}

TEST_F(EnvelopeTest, ForwardToMovesAWholeMessage) {
  ZmqSocket sink(context_, ZMQ_PULL);
  ASSERT_TRUE(sink.Bind("inproc://envelope-sink"));
  ZmqSocket relay(context_, ZMQ_PUSH);
  ASSERT_TRUE(relay.Connect("inproc://envelope-sink"));

  push_.SendFrame("prefix", true);
  qo::MsgWinRefresh body;
  body.add_local_tree_ids(3);
  push_.SendMsg(qo::MC_WIN_REFRESH, &body);
  ASSERT_TRUE(pull_.WaitForInput(1000));
  ASSERT_TRUE(pull_.ForwardTo(relay));

  CQoMsg forwarded;
  ASSERT_TRUE(forwarded.Recv(sink, true, 1000));
  EXPECT_EQ(forwarded.Code(), qo::MC_WIN_REFRESH);
  qo::MsgWinRefresh parsed;
  ASSERT_TRUE(forwarded.ParseBody(parsed));
  EXPECT_EQ(parsed.local_tree_ids(0), 3);
}

}  // namespace
}  // namespace morvex::protocol
