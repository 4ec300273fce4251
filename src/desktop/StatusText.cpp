#include "desktop/StatusText.h"

#include "desktop/Strings.h"

namespace morvex::desktop {

std::string SpeedText(double bytesPerSecond) {
  // Each unit's format is named where it is used, so that printf checks it.
  double value = bytesPerSecond;
  if (value < 1024) return Printf(core::Tr(text::kSpeedB), value);
  value /= 1024;
  if (value < 1024) return Printf(core::Tr(text::kSpeedKB), value);
  value /= 1024;
  if (value < 1024) return Printf(core::Tr(text::kSpeedMB), value);
  value /= 1024;
  if (value < 1024) return Printf(core::Tr(text::kSpeedGB), value);
  return Printf(core::Tr(text::kSpeedTB), value / 1024);
}

std::string TimeText(uint64_t seconds) {
  constexpr uint64_t kMinute = 60, kHour = 3600, kDay = 86400;
  if (seconds < kMinute) return Printf(core::Tr(text::kSeconds), static_cast<int>(seconds));
  if (seconds < kHour) {
    return Printf(core::Tr(text::kMinutesSeconds), static_cast<int>(seconds / kMinute),
                  static_cast<int>(seconds % kMinute));
  }
  if (seconds < kDay) {
    return Printf(core::Tr(text::kHoursMinutes), static_cast<int>(seconds / kHour),
                  static_cast<int>(seconds % kHour / kMinute));
  }
  if (seconds < 3 * kDay) {
    return Printf(core::Tr(text::kDaysHours), static_cast<int>(seconds / kDay),
                  static_cast<int>(seconds % kDay / kHour));
  }
  return core::Tr(text::kAWhile);
}

std::string StatusText(const ActivityCounts& counts) {
  std::string status;
  auto addLine = [&status](const std::string& line) {
    if (!status.empty()) status += '\n';
    status += line;
  };
  if (counts.indexing > 0) {
    addLine(Printf(core::TrN(StrPair(206).one, StrPair(206).many, counts.indexing), counts.indexing));
  }
  if (counts.passes > 0) {
    addLine(Printf(core::TrN(StrPair(207).one, StrPair(207).many, counts.passes), counts.passes));
  }
  if (counts.files > 0) {
    const int64_t speed = counts.bytesSinceRefresh;
    const int64_t left = counts.bytesLeft > 0 ? counts.bytesLeft : 0;
    const uint64_t secondsLeft = speed > 0 ? static_cast<uint64_t>(left / speed) : 0;
    const unsigned long files = static_cast<unsigned long>(counts.files);
    if (speed > 0 && secondsLeft != 0) {
      addLine(Printf(core::TrN(StrPair(211).one, StrPair(211).many, files), counts.files,
                     SpeedText(static_cast<double>(speed)).c_str(), TimeText(secondsLeft).c_str()));
    } else if (speed > 0) {
      addLine(Printf(core::TrN(StrPair(210).one, StrPair(210).many, files), counts.files,
                     SpeedText(static_cast<double>(speed)).c_str()));
    } else {
      addLine(Printf(core::TrN(StrPair(209).one, StrPair(209).many, files), counts.files));
    }
  }
  if (status.empty()) status = core::Tr(Str(208));
  return status;
}

}  // namespace morvex::desktop
