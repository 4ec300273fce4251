#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "aux/Deployment.h"

namespace morvex::aux {

// The usage report: the statistics host learns, by one GET whose path
// carries the values, that the service started, still runs (hourly) or
// stopped, with a few counts. Nothing is sent without a statistics host.

enum ReportKind : int { kReportStart = 0, kReportPeriod = 1, kReportStop = 2 };
const char* ReportKindText(int kind);  // "start", "period", "stop"

struct UsageCounts {
  int32_t syncDirs = 0;
  int32_t files = 0;
  int64_t bytes = 0;
};

// The distribution channel: the first line of "qodata" in the current
// folder, "website" when the file or its first line is missing.
std::string ReadChannel(const std::string& file = "qodata");

// ProgramVersion() cut to its first five characters.
std::string ReportVersion();

// "/app.php/report/<uuid>/Linux/<version>/<kind>/<channel>/<dirs>/<files>/<bytes>"
std::string ReportPath(const std::string& deviceUuid, const std::string& version, int kind,
                       const std::string& channel, const UsageCounts& counts);

// Sends the report (agent "Morvex/1.0", no proxy, 3 s to connect). Failures
// are ignored: a lost report is not worth a retry. True when sent.
bool SendUsageReport(const Deployment& deployment, const std::string& deviceUuid, int kind,
                     const UsageCounts& counts);

// Encodes one path segment: ASCII letters, digits and "-._~" stay, a space
// becomes '+', every other byte "%XX"; an empty text becomes "none".
std::string EncodeFeedbackSegment(std::string_view text);

// The feedback dialog's submit: sends rating, comment and contact (UTF-8)
// to the statistics host (1 s to connect); on success the reminder state
// becomes "Ok" for good. False when nothing was sent (no host, no answer):
// the dialog stays open.
bool UploadFeedback(const Deployment& deployment, const std::string& deviceUuid, const std::string& rating,
                    const std::string& comment, const std::string& contact);

// The feedback reminder: FeedBack "first" reminds 3 days after FirstTime,
// "second" 14 days after; "Ok" never. A FirstTime of 0 starts the period.
inline constexpr int32_t kFirstReminderDelay = 259200;
inline constexpr int32_t kSecondReminderDelay = 1209600;
struct ReminderDecision {
  bool remind = false;
  std::optional<int32_t> newFirstTime;  // what FirstTime becomes, if it changes
  bool operator==(const ReminderDecision&) const = default;
};
ReminderDecision DecideFeedbackReminder(const std::string& feedBack, int32_t firstTime, int32_t now);

// Runs the check against the Config table (stores FirstTime as decided);
// true when the user is to be reminded (the caller broadcasts it).
bool CheckFeedbackReminder(int32_t now);

}  // namespace morvex::aux
