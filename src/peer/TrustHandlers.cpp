#include <glog/logging.h>

#include <ctime>

#include "core/BroadcastService.h"
#include "device/Device.h"
#include "device/DeviceQueries.h"
#include "peer/DeviceChannel.h"
#include "peer/RequestHandlers.h"
#include "peer/TrustBook.h"
#include "protocol/SslUtils.h"

namespace morvex::peer {
namespace {

constexpr int kTrustAnswerWaitMs = 5000;

// A token as the asking device makes it: the time, the offer's timeout and
// the time signed with the own key, so that only we can have made it.
std::string MakeToken(const std::string& privateKey, int32_t timeout) {
  qo::WinTrustInfo info;
  const auto now = static_cast<uint32_t>(std::time(nullptr));
  info.set_timestamp(static_cast<int32_t>(now));
  info.set_timeout(timeout);
  const std::string stamp = {static_cast<char>(now & 0xFF), static_cast<char>((now >> 8) & 0xFF),
                             static_cast<char>((now >> 16) & 0xFF), static_cast<char>((now >> 24) & 0xFF)};
  std::string cert;
  protocol::ssl::RsaKey(std::string(), privateKey).PrivateEncrypt(stamp, cert);
  info.set_cert(cert);
  return info.SerializeAsString();
}

int AnswerTrust(Request& request, qo::TrustResult result) {
  qo::MsgTrustResponse response;
  response.set_trust_result(result);
  request.answer.Send(qo::MC_TRUST_RESPONSE, &response, false);
  return 0;
}

// Sends one handshake message to `device` as this device.
// The handshake talks to devices not trusted yet: any known key will do.
protocol::PeerReply SendToDevice(Request& request, const device::CDevice& device, int code,
                                 const google::protobuf::MessageLite& body, int waitMs) {
  protocol::PeerReply reply = OpenDeviceChannel(request.peer, device, PeerKey::kAnyKnown).Ask(code, &body, waitMs);
  // No answer in time: shown offline at once; its next datagram or answer
  // brings it back.
  if (reply.receiveError == qo::ZE_OPERATE_TIMEOUT) device::MarkOffline(device.uuid);
  return reply;
}

}  // namespace

int HandleTrustPublish(Request& request) {
  qo::MsgTrustPublishRequest publish;
  if (!request.Parse(publish)) {
    LOG(WARNING) << "Bad format for TrustPublishRequest";
    return qo::ZE_BAD_FORMAT;
  }
  const int32_t timeout = publish.timeout() > 0 ? publish.timeout() : 30;
  request.peer.trust.RecordRequest(request.SenderUuid(), publish.token(), std::chrono::seconds(timeout));
  qo::WinTrustInfo event;
  event.set_timestamp(static_cast<int32_t>(std::time(nullptr)));
  event.set_timeout(timeout);
  event.set_cert(publish.token());
  event.set_device_uuid(request.SenderUuid());
  core::CBroadcastService::Instance().Broadcast(core::BM_TRUST_REQUEST, event);
  LOG(INFO) << "Trust requested by device " << request.SenderUuid();
  request.answer.Send(qo::MC_TRUST_PUBLISH_RESPONSE, nullptr, false);
  return 0;
}

int HandleTrust(Request& request) {
  qo::MsgTrustRequest trust;
  if (!request.Parse(trust)) {
    LOG(WARNING) << "Bad format for TrustRequest";
    return qo::ZE_BAD_FORMAT;
  }
  const std::string& sender = request.SenderUuid();
  qo::WinTrustInfo token;
  if (!token.ParseFromString(trust.token()) || !request.peer.trust.Redeem(sender, trust.token())) {
    LOG(WARNING) << "Bad trust token: (not issue by me)";
    return AnswerTrust(request, qo::TRUST_DENY);
  }
  device::CDevice device;
  if (!device.LoadByUuid(sender) || !device.SetTrusted()) {
    LOG(WARNING) << "Failed to set trust status: " << sender;
    return AnswerTrust(request, qo::TRUST_DENY);
  }
  LOG(INFO) << "Allow trust device: " << sender;
  core::CBroadcastService::Instance().Broadcast(core::BM_TRUST_ALLOW, device.id);
  return AnswerTrust(request, qo::TRUST_ALLOW);
}

int HandleTrustDeny(Request& request) {
  qo::MsgTrustDenyRequest deny;
  if (!request.Parse(deny)) {
    LOG(WARNING) << "Bad format for TrustDenyRequest";
    return qo::ZE_BAD_FORMAT;
  }
  qo::WinTrustInfo token;
  if (!token.ParseFromString(deny.token())) {
    LOG(WARNING) << "Bad trust token: (not issue by me)";
    return qo::ZE_BAD_FORMAT;
  }
  device::CDevice device;
  if (!device.LoadByUuid(request.SenderUuid())) {
    LOG(WARNING) << "Failed to set trust status: " << request.SenderUuid();
    return qo::ZE_NOENT;
  }
  request.peer.trust.DropIssued(request.SenderUuid(), deny.token());
  LOG(INFO) << "Trust refused by device " << request.SenderUuid();
  core::CBroadcastService::Instance().Broadcast(core::BM_TRUST_DENY, device.id);
  request.answer.Send(qo::MC_TRUST_DENY_RESPONSE, nullptr, false);
  return 0;
}

int HandleTrustCancel(Request& request) {
  qo::MsgTrustCancelRequest cancel;
  if (!request.Parse(cancel)) {
    LOG(WARNING) << "Bad format for TrustCancelRequest";
    return qo::ZE_BAD_FORMAT;
  }
  request.peer.trust.DropRequest(request.SenderUuid(), cancel.token());
  qo::WinTrustInfo event;
  event.set_timestamp(0);
  event.set_timeout(0);
  event.set_device_uuid(request.SenderUuid());
  event.set_cert(cancel.token());
  core::CBroadcastService::Instance().Broadcast(core::BM_TRUST_CANCEL, event);
  request.answer.Send(qo::MC_TRUST_CANCEL_RESPONSE, nullptr, false);
  return 0;
}

int HandleDistrust(Request& request) {
  qo::MsgDistrustRequest distrust;
  if (!request.Parse(distrust)) {
    LOG(WARNING) << "Bad format for DistrustRequest";
    return qo::ZE_BAD_FORMAT;
  }
  // From a peer: the peer asks to be distrusted. From this device itself
  // (its tools): distrust the device the body names and tell that device.
  const bool local = request.SenderUuid() == request.config->deviceUuid;
  const std::string target = local ? distrust.device_uuid() : request.SenderUuid();
  device::CDevice device;
  if (target == request.config->deviceUuid || !device.LoadByUuid(target) ||
      (device.trust != 0 && !device.SetUntrusted())) {
    LOG(WARNING) << "Failed to set trust status: " << target;
    return qo::ZE_BAD_UUID;
  }
  LOG(INFO) << "Distrust device: " << target;
  if (local) {
    qo::MsgDistrustRequest tell;
    tell.set_device_uuid(request.config->deviceUuid);
    // The peer's key is still the one it had while trusted.
    SendToDevice(request, device, qo::MC_DISTRUST_REQUEST, tell, 1000);
  }
  request.answer.Send(qo::MC_DISTRUST_RESPONSE, nullptr, false);
  return 0;
}

int HandleTestTrust(Request& request) {
  qo::MsgTestTrustRequest test;
  if (!request.Parse(test)) {
    LOG(WARNING) << "Bad format for TrustRequest";
    return qo::ZE_BAD_FORMAT;
  }
  device::CDevice device;
  if (!device.LoadByUuid(test.device_uuid())) {
    LOG(WARNING) << "Failed to set trust status: " << test.device_uuid();
    return qo::ZE_BAD_UUID;
  }
  if (device.trust == 0 && !device.SetTrusted()) {
    LOG(WARNING) << "Failed to set trust status: " << test.device_uuid();
    return qo::ZE_GENERAL;
  }
  request.socket.SendMsg(qo::MC_TEST_TRUST_RESPONSE);
  return 0;
}

int HandleLinuxTrustPublish(Request& request) {
  qo::MsgLinuxTrustPublishRequest publish;
  if (!request.Parse(publish)) return qo::ZE_BAD_FORMAT;
  device::CDevice device;
  if (!device.LoadByUuid(publish.device_uuid()) || device.uuid == request.config->deviceUuid) return qo::ZE_NOENT;
  const int32_t timeout = publish.timeout() > 0 ? publish.timeout() : 300;
  const std::string token = MakeToken(request.config->privateKey, timeout);
  request.peer.trust.RecordIssued(device.uuid, token, std::chrono::seconds(timeout));
  qo::MsgTrustPublishRequest offer;
  offer.set_timeout(timeout);
  offer.set_token(token);
  // The answer comes from a device we do not trust yet, so our envelope
  // refuses it; that it came is what tells the offer was delivered.
  const protocol::PeerReply sent = SendToDevice(request, device, qo::MC_TRUST_PUBLISH_REQUEST, offer, kTrustAnswerWaitMs);
  if (!sent.arrived() || sent.refused()) {
    request.peer.trust.DropIssued(device.uuid, token);
    LOG(WARNING) << "Trust request to " << device.uuid << " was not delivered";
    return sent.arrived() ? qo::ZE_PEER_ERROR : qo::ZE_OPERATE_TIMEOUT;
  }
  LOG(INFO) << "Trust requested from device " << device.uuid;
  request.answer.Send(qo::MC_LINUX_TRUST_PUBLISH_RESPONSE, nullptr, false);
  return 0;
}

int HandleLinuxTrust(Request& request) {
  qo::MsgLinuxTrustRequest accept;
  if (!request.Parse(accept)) return qo::ZE_BAD_FORMAT;
  device::CDevice device;
  if (!device.LoadByUuid(accept.device_uuid())) return qo::ZE_NOENT;
  const std::optional<std::string> token = request.peer.trust.TakeRequest(device.uuid);
  if (!token) return qo::ZE_NOENT;
  qo::MsgTrustRequest trust;
  trust.set_token(*token);
  const protocol::PeerReply answer = SendToDevice(request, device, qo::MC_TRUST_REQUEST, trust, kTrustAnswerWaitMs);
  qo::MsgTrustResponse result;
  if (!answer.answered()) {
    LOG(ERROR) << "Failed to receive MsgTrustResponse";
    return qo::ZE_OPERATE_TIMEOUT;
  }
  if (answer.code != qo::MC_TRUST_RESPONSE || !result.ParseFromString(answer.body)) {
    LOG(ERROR) << "Failed to Parse MsgTrustResponse";
    return qo::ZE_PEER_ERROR;
  }
  if (result.trust_result() == qo::TRUST_ALLOW) {
    device.SetTrusted();
  } else {
    device.SetUntrusted();
  }
  qo::MsgLinuxTrustResponse response;
  response.set_trust_result(result.trust_result());
  request.answer.Send(qo::MC_LINUX_TRUST_RESPONSE, &response, false);
  return 0;
}

int HandleLinuxTrustCancel(Request& request) {
  qo::MsgLinuxTrustCancelRequest cancel;
  if (!request.Parse(cancel)) return qo::ZE_BAD_FORMAT;
  device::CDevice device;
  if (!device.LoadByUuid(cancel.device_uuid())) return qo::ZE_NOENT;
  if (const auto theirs = request.peer.trust.TakeRequest(device.uuid)) {
    qo::MsgTrustDenyRequest deny;
    deny.set_token(*theirs);
    if (!SendToDevice(request, device, qo::MC_TRUST_DENY_REQUEST, deny, 1000).answered()) {
      LOG(ERROR) << "Failed to receive MsgTrustResponse";
    }
  } else if (const auto ours = request.peer.trust.TakeIssued(device.uuid)) {
    qo::MsgTrustCancelRequest withdraw;
    withdraw.set_token(*ours);
    SendToDevice(request, device, qo::MC_TRUST_CANCEL_REQUEST, withdraw, 1000);
  } else {
    return qo::ZE_NOENT;
  }
  request.answer.Send(qo::MC_LINUX_TRUST_CANCEL_RESPONSE, nullptr, false);
  return 0;
}

}  // namespace morvex::peer
