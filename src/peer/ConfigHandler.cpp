#include <glog/logging.h>

#include "config/Settings.h"
#include "peer/RequestHandlers.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"

namespace morvex::peer {

// A setting changed by this device's own tools (the envelope let only its
// own key through). The service's Config observers take it from there, as
// they do for any other change of the table: the router rebinds a moved
// port, the configuration manager announces a new password.
int HandleLinuxConfigSet(Request& request) {
  qo::MsgLinuxConfigSetRequest set;
  if (!request.Parse(set)) return qo::ZE_BAD_FORMAT;
  const std::optional<config::SettingInfo> info = config::FindSetting(set.key());
  if (!info || !config::ValueProblem(info->setting, set.value()).empty()) return qo::ZE_BAD_FORMAT;
  if (config::IsPortSetting(info->setting)) {
    const auto port = static_cast<uint16_t>(std::stoi(set.value()));
    if (!config::PortClash(info->setting, port, config::ReadStoredPorts()).empty()) return qo::ZE_EXIST;
  }
  // A moved route port is rebound by the router only once this answer has
  // left through the old one.
  if (!config::StoreSetting(info->setting, set.value(), request.config->deviceUuid)) return qo::ZE_SQLITE;
  LOG(INFO) << "Setting " << info->name << " changed by this device's tools";
  // Peers learn a new name or address from a datagram: send one now, after
  // the router's rebinding, which the store's notice queued first.
  if (info->setting == config::Setting::kName || info->setting == config::Setting::kPort ||
      info->setting == config::Setting::kPublishPort) {
    protocol::PushOnce(request.peer.zmq, protocol::endpoints::kCommand, qo::MC_WIN_ISSUE_DISCOVER);
  }
  request.answer.Send(qo::MC_LINUX_CONFIG_SET_RESPONSE, nullptr, false);
  return 0;
}

}  // namespace morvex::peer
