#include "aux/UsageReport.h"

#include <glog/logging.h>

#include <cctype>
#include <cinttypes>
#include <fstream>

#include "aux/HttpGet.h"
#include "aux/ProgramVersion.h"
#include "config/ConfigTable.h"
#include "core/StringPrintf.h"

namespace morvex::aux {
namespace {

constexpr const char* kAgent = "Morvex/1.0";
constexpr long kReportConnectTimeoutMs = 3000;
constexpr long kFeedbackConnectTimeoutMs = 1000;
constexpr size_t kAnswerBytes = 1024;
// The report at the end runs while the service stops: a server that
// accepts and then says nothing must not hold the stop up.
constexpr long kTransferTimeoutMs = 10000;

bool Get(const std::string& url, long connectTimeoutMs) {
  std::string answer;  // read and dropped: the server's word changes nothing
  const HttpOptions options{kAgent, connectTimeoutMs, kTransferTimeoutMs, true, {}};
  const HttpResult result = HttpGetText(url, options, kAnswerBytes, answer);
  return result.ok;
}

}  // namespace

const char* ReportKindText(int kind) {
  switch (kind) {
    case kReportStart: return "start";
    case kReportPeriod: return "period";
    default: return "stop";
  }
}

std::string ReadChannel(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  if (in) std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line.empty() ? "website" : line;
}

std::string ReportVersion() { return std::string(ProgramVersion()).substr(0, 5); }

std::string ReportPath(const std::string& deviceUuid, const std::string& version, int kind,
                       const std::string& channel, const UsageCounts& counts) {
  return core::StringPrintf("/app.php/report/%s/Linux/%s/%s/%s/%d/%d/%" PRId64, deviceUuid.c_str(), version.c_str(),
                            ReportKindText(kind), channel.c_str(), counts.syncDirs, counts.files, counts.bytes);
}

bool SendUsageReport(const Deployment& deployment, const std::string& deviceUuid, int kind,
                     const UsageCounts& counts) {
  const std::string origin = StatisticsOrigin(deployment);
  if (origin.empty()) return false;
  return Get(origin + ReportPath(deviceUuid, ReportVersion(), kind, ReadChannel(), counts), kReportConnectTimeoutMs);
}

std::string EncodeFeedbackSegment(std::string_view text) {
  if (text.empty()) return "none";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x80 && std::isalnum(byte) != 0) || c == '-' || c == '.' || c == '_' || c == '~') {
      encoded += c;
    } else if (c == ' ') {
      encoded += '+';
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0xf];
    }
  }
  return encoded;
}

bool UploadFeedback(const Deployment& deployment, const std::string& deviceUuid, const std::string& rating,
                    const std::string& comment, const std::string& contact) {
  const std::string origin = StatisticsOrigin(deployment);
  if (origin.empty()) return false;
  const std::string url = origin + "/app.php/feedback/" + deviceUuid + "/" + EncodeFeedbackSegment(rating) + "/" +
                          EncodeFeedbackSegment(comment) + "/" + EncodeFeedbackSegment(contact);
  if (!Get(url, kFeedbackConnectTimeoutMs)) return false;
  if (!config::StoreFeedBackState("Ok")) LOG(ERROR) << "Feedback sent, but its state could not be stored";
  return true;
}

ReminderDecision DecideFeedbackReminder(const std::string& feedBack, int32_t firstTime, int32_t now) {
  if (feedBack == "Ok") return {};
  if (firstTime == 0) return {false, now};
  const bool due = (feedBack == "first" && int64_t{now} >= int64_t{firstTime} + kFirstReminderDelay) ||
                   (feedBack == "second" && int64_t{now} >= int64_t{firstTime} + kSecondReminderDelay);
  if (!due) return {};
  return {true, now};
}

bool CheckFeedbackReminder(int32_t now) {
  const ReminderDecision decision =
      DecideFeedbackReminder(config::ReadFeedBackState(), config::ReadFirstTime(), now);
  if (decision.newFirstTime) config::StoreFirstTime(*decision.newFirstTime);
  return decision.remind;
}

}  // namespace morvex::aux
