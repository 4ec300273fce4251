#include "device/Device.h"
#include "peer/FileHandlers.h"
#include "peer/RequestHandlers.h"
#include "peer/TrustBook.h"

namespace morvex::peer {

int HandleDeviceShow(Request& request) {
  if (request.message.HasBody() && request.message.BodySize() > 0) return qo::ZE_BAD_FORMAT;
  qo::MsgDeviceShowResponse response;
  // Unsigned, anyone may ask: the answer is this device alone. The list of
  // the others (the UUIDs a stranger would pose as) goes only to a signed
  // request, which the envelope let through for this device or a trusted one.
  std::vector<device::CDevice> devices;
  if (request.Signed()) {
    devices = device::CDevice::LoadAll();
  } else if (device::CDevice own; own.LoadByUuid(request.config->deviceUuid)) {
    devices.push_back(std::move(own));
  }
  for (const device::CDevice& row : devices) {
    qo::DeviceInfo& info = *response.add_devices();
    const std::string& uuid = row.uuid;
    info.set_id(row.id);
    info.set_uuid(uuid);
    info.set_name(row.name);
    info.set_route_uri(row.routeUri);
    info.set_pub_uri(row.pubUri);
    const int type = row.type;
    info.set_type(qo::DeviceType_IsValid(type) ? static_cast<qo::DeviceType>(type) : qo::DEVICE_WINDOWS);
    info.set_is_self(uuid == request.config->deviceUuid ? qo::PB_TRUE : qo::PB_FALSE);
    info.set_is_online(row.online != 0 ? qo::PB_TRUE : qo::PB_FALSE);
    // Handshakes in progress live in memory: WAIT for a device we asked,
    // ACK for a device whose request awaits our answer.
    qo::PairStatus pair = qo::NONE;
    if (row.trust != 0) {
      pair = qo::PAIR;
    } else if (request.peer.trust.HasOpenIssued(uuid)) {
      pair = qo::WAIT;
    } else if (request.peer.trust.HasPendingRequest(uuid)) {
      pair = qo::ACK;
    }
    info.set_pair_status(pair);
  }
  request.answer.Send(qo::MC_DEVICE_SHOW_RESPONSE, &response, false);
  return 0;
}

Handler FindHandler(int code) {
  switch (code) {
    case qo::MC_DISCOVER: return HandleDiscover;
    case qo::MC_FIND_REQUEST: return HandleFind;
    case qo::MC_STATUS_REQUEST: return HandleStatus;
    case qo::MC_GET_REQUEST: return HandleGet;
    case qo::MC_LIST_REQUEST: return HandleList;
    case qo::MC_LIST_ROOT_REQUEST: return HandleListRoot;
    case qo::MC_TRUST_PUBLISH_REQUEST: return HandleTrustPublish;
    case qo::MC_TRUST_REQUEST: return HandleTrust;
    case qo::MC_TRUST_DENY_REQUEST: return HandleTrustDeny;
    case qo::MC_TRUST_CANCEL_REQUEST: return HandleTrustCancel;
    case qo::MC_DEVICE_SHOW_REQUEST: return HandleDeviceShow;
    case qo::MC_DEVICE_ADD_REQUEST: return HandleDeviceAdd;
    case qo::MC_DEVICE_DELETE_REQUEST: return HandleDeviceDelete;
    case qo::MC_TREE_ADD_REQUEST: return HandleTreeAdd;
    case qo::MC_TREE_DELETE_REQUEST: return HandleTreeDelete;
    case qo::MC_TREE_SHOW_REQUEST: return HandleTreeShow;
    case qo::MC_SYNC_ADD_REQUEST: return HandleSyncAdd;
    case qo::MC_SYNC_DELETE_REQUEST: return HandleSyncDelete;
    case qo::MC_SYNC_SHOW_REQUEST: return HandleSyncShow;
    case qo::MC_SYNC_ONCE_REQUEST: return HandleSyncOnce;
    case qo::MC_WIN_SYNC_DELETE_REQUEST: return HandleWinSyncDelete;
    case qo::MC_LINUX_STATUS_REQUEST: return HandleLinuxStatus;
    case qo::MC_LINUX_CONFIG_SET_REQUEST: return HandleLinuxConfigSet;
    case qo::MC_REFRESH_REQUEST: return HandleRefresh;
    case qo::MC_DATABASE_CLEAR_REQUEST: return HandleDatabaseClear;
    case qo::MC_DISTRUST_REQUEST: return HandleDistrust;
    case qo::MC_TEST_TRUST_REQUEST: return HandleTestTrust;
    case qo::MC_LINUX_TRUST_PUBLISH_REQUEST: return HandleLinuxTrustPublish;
    case qo::MC_LINUX_TRUST_REQUEST: return HandleLinuxTrust;
    case qo::MC_LINUX_TRUST_CANCEL_REQUEST: return HandleLinuxTrustCancel;
    default: return nullptr;
  }
}

}  // namespace morvex::peer
