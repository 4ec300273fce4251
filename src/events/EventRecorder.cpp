#include "events/EventRecorder.h"

#include <glog/logging.h>

#include <ctime>

#include "core/StringPrintf.h"
#include "core/Text.h"
#include "device/DeviceQueries.h"
#include "Morvex.pb.h"

namespace morvex::events {
namespace {

constexpr int kRecordedCodes[] = {core::BM_CONFLICT_COPY,  core::BM_INVALID_NAME,         core::BM_DELETE_APPLIED,
                                  core::BM_TRUST_REQUEST, core::BM_TRUSTED_KEY_MISMATCH, core::BM_PASS_FAILED,
                                  core::BM_OTHER_PASSWORD};

// A device name comes from the peer: control characters must not reach the
// terminal, where they could rewrite what the user sees.
std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) c = '?';
  }
  return out;
}

std::string QuotedForShell(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t'\"\\$`!*?[]{}()<>|&;#~") == std::string::npos) return word;
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

CEventRecorder::CEventRecorder(std::ostream& terminal) : terminal_(terminal) {
  for (int code : kRecordedCodes) core::CBroadcastService::Instance().Register(code, this);
}

CEventRecorder::~CEventRecorder() {
  for (int code : kRecordedCodes) core::CBroadcastService::Instance().Unregister(code, this);
}

bool CEventRecorder::OnReceive(int code, const std::any& parameter) {
  const std::optional<EventRow> row = ToEventRow(code, parameter, std::time(nullptr));
  if (!row) return false;
  if (!AppendEvent(*row)) LOG(WARNING) << "Could not record event " << KindName(code) << " in the history";
  if (code == core::BM_TRUST_REQUEST) {
    std::string name = row->deviceUuid;
    device::DeviceName(row->deviceUuid, name);
    terminal_ << TrustRequestNotice(Printable(name), true) << std::endl;
    LOG(WARNING) << TrustRequestNotice(Printable(name));
  } else if (code == core::BM_OTHER_PASSWORD) {
    terminal_ << OtherPasswordNotice(row->text, true) << std::endl;
  }
  return true;
}

std::optional<EventRow> ToEventRow(int code, const std::any& parameter, int64_t now) {
  EventRow row;
  row.time = now;
  row.kind = code;
  switch (code) {
    case core::BM_CONFLICT_COPY:
    case core::BM_PASS_FAILED:
    case core::BM_INVALID_NAME:
      if (const auto* event = std::any_cast<core::PathEvent>(&parameter)) {
        row.deviceUuid = event->deviceUuid;
        row.text = event->path;
        return row;
      }
      return std::nullopt;
    case core::BM_DELETE_APPLIED:
      if (const auto* event = std::any_cast<core::DeletionsEvent>(&parameter)) {
        row.deviceUuid = event->deviceUuid;
        row.text = std::to_string(event->count) + " in " + event->root;
        return row;
      }
      return std::nullopt;
    case core::BM_TRUST_REQUEST:
      if (const auto* info = std::any_cast<qo::WinTrustInfo>(&parameter)) {
        row.deviceUuid = info->device_uuid();
        return row;
      }
      return std::nullopt;
    case core::BM_OTHER_PASSWORD:
      if (const auto* event = std::any_cast<core::AddressEvent>(&parameter)) {
        row.text = event->address;
        return row;
      }
      return std::nullopt;
    case core::BM_TRUSTED_KEY_MISMATCH:
      if (const auto* event = std::any_cast<core::DeviceKeyEvent>(&parameter)) {
        row.deviceUuid = event->deviceUuid;
        row.text = event->address;
        return row;
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::string OtherPasswordNotice(const std::string& address, bool translated) {
  constexpr const char* kNotice = core::TrNoop(
      "A device at %s uses another sync password: the two cannot see each other until both use the same one");
  return core::StringPrintf(translated ? core::Tr(kNotice) : kNotice, address.c_str());
}

std::string TrustRequestNotice(const std::string& deviceName, bool translated) {
  constexpr const char* kNotice =
      core::TrNoop("Device '%s' asks to be trusted. To accept, run: morvexctl trust accept %s");
  return core::StringPrintf(translated ? core::Tr(kNotice) : kNotice, deviceName.c_str(),
                            QuotedForShell(deviceName).c_str());
}

}  // namespace morvex::events
