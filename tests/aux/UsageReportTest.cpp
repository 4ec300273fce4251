#include "aux/UsageReport.h"

#include <gtest/gtest.h>

#include "aux/LoopbackHttpServer.h"
#include "aux/ProgramVersion.h"
#include "config/ConfigTable.h"
#include "store/StoreFixture.h"

namespace morvex::aux {
namespace {

TEST(UsageReport, FeedbackSegmentsAreEncodedForAPath) {
  struct Case {
    const char* text;
    const char* encoded;
  };
  for (const Case& c : {Case{"a b/c", "a+b%2Fc"}, Case{"", "none"}, Case{"Az09-._~", "Az09-._~"},
                        Case{"非常好", "%E9%9D%9E%E5%B8%B8%E5%A5%BD"}, Case{"x@y?z%", "x%40y%3Fz%25"}}) {
    EXPECT_EQ(EncodeFeedbackSegment(c.text), c.encoded) << c.text;
  }
}

TEST(UsageReport, ReminderComesAfterThreeThenFourteenDaysAndNeverOnceOk) {
  const int32_t t0 = 1700000000;
  struct Case {
    const char* state;
    int32_t firstTime;
    int32_t now;
    ReminderDecision decision;
  };
  for (const Case& c : {
           Case{"first", 0, t0, {false, t0}},  // the period starts
           Case{"first", t0, t0 + kFirstReminderDelay - 1, {}},
           Case{"first", t0, t0 + kFirstReminderDelay, {true, t0 + kFirstReminderDelay}},
           Case{"second", t0, t0 + kFirstReminderDelay, {}},
           Case{"second", t0, t0 + kSecondReminderDelay, {true, t0 + kSecondReminderDelay}},
           Case{"Ok", t0, t0 + kSecondReminderDelay * 10, {}},
           Case{"Ok", 0, t0, {}},
       }) {
    EXPECT_EQ(DecideFeedbackReminder(c.state, c.firstTime, c.now), c.decision) << c.state << " " << c.now - c.firstTime;
  }
}

TEST(UsageReport, PathCarriesTheValuesInOrderAndTheChannelDefaults) {
  EXPECT_EQ(ReportPath("U-1", "1.2.3", kReportPeriod, "website", {2, 30, 4000000000LL}),
            "/app.php/report/U-1/Linux/1.2.3/period/website/2/30/4000000000");
  test::TempDir dir;
  EXPECT_EQ(ReadChannel(dir / "qodata"), "website");
  test::WriteFile(dir / "qodata", "\nshop\n");
  EXPECT_EQ(ReadChannel(dir / "qodata"), "website");
  test::WriteFile(dir / "qodata", "shop\nmore\n");
  EXPECT_EQ(ReadChannel(dir / "qodata"), "shop");
  EXPECT_EQ(ReportVersion(), std::string(ProgramVersion()).substr(0, 5));
}

class ReportServerTest : public store::StoreFixture {
 protected:
  void SetUp() override {
    store::StoreFixture::SetUp();
    ASSERT_TRUE(server_.Running());
    deployment_.statisticsHost = server_.Authority();
  }
  test::LoopbackHttpServer server_;
  Deployment deployment_;
};

TEST_F(ReportServerTest, ReportsOfEachKindReachTheStatisticsHost) {
  const std::string prefix = "Morvex/1.0 /app.php/report/U-1/Linux/" + ReportVersion() + "/";
  const std::string channel = ReadChannel();
  for (int kind : {kReportStart, kReportPeriod, kReportStop}) SendUsageReport(deployment_, "U-1", kind, {1, 2, 3});
  EXPECT_EQ(server_.Requests(), (std::vector<std::string>{prefix + "start/" + channel + "/1/2/3",
                                                          prefix + "period/" + channel + "/1/2/3",
                                                          prefix + "stop/" + channel + "/1/2/3"}));
  EXPECT_FALSE(SendUsageReport(Deployment{}, "U-1", kReportStart, {})) << "no host, nothing sent";
}

TEST_F(ReportServerTest, FeedbackSentMarksTheReminderDone) {
  ASSERT_TRUE(config::StoreFeedBackState("second"));
  EXPECT_FALSE(UploadFeedback(Deployment{}, "U-1", "good", "a b/c", ""));
  EXPECT_EQ(config::ReadFeedBackState(), "second");
  Deployment nobodyListens;
  nobodyListens.statisticsHost = "127.0.0.1:1";
  EXPECT_FALSE(UploadFeedback(nobodyListens, "U-1", "good", "", ""));
  EXPECT_EQ(config::ReadFeedBackState(), "second");
  EXPECT_TRUE(UploadFeedback(deployment_, "U-1", "good", "a b/c", ""));
  EXPECT_EQ(config::ReadFeedBackState(), "Ok");
  EXPECT_EQ(server_.Requests().back(), "Morvex/1.0 /app.php/feedback/U-1/good/a+b%2Fc/none");
}

TEST_F(ReportServerTest, ReminderCheckStoresTheNewPeriodStart) {
  ASSERT_TRUE(config::StoreFeedBackState("first"));
  ASSERT_TRUE(config::StoreFirstTime(0));
  EXPECT_FALSE(CheckFeedbackReminder(1000));
  EXPECT_EQ(config::ReadFirstTime(), 1000);
  EXPECT_TRUE(CheckFeedbackReminder(1000 + kFirstReminderDelay));
  EXPECT_EQ(config::ReadFirstTime(), 1000 + kFirstReminderDelay);
  EXPECT_FALSE(CheckFeedbackReminder(1000 + kFirstReminderDelay + 1));
}

}  // namespace
}  // namespace morvex::aux
