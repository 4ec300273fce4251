#include "desktop/TrustActions.h"

#include <glog/logging.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <utility>

#include "Morvex.pb.h"
#include "desktop/OwnKeys.h"
#include "desktop/Strings.h"
#include "protocol/PeerChannel.h"

namespace morvex::desktop {
namespace {

// The service waits up to 5 s for the peer before it answers.
constexpr int kAnswerWaitMs = 10000;

}  // namespace

std::optional<TrustFailure> ClassifyTrustAnswer(int code, bool answered, std::optional<int> refusal, bool accepted) {
  if (!answered) return TrustFailure::kServiceSilent;
  if (refusal) return *refusal == qo::ZE_OPERATE_TIMEOUT ? TrustFailure::kPeerUnreachable : TrustFailure::kRefused;
  if (code == qo::MC_LINUX_TRUST_REQUEST && !accepted) return TrustFailure::kRefused;
  return std::nullopt;
}

std::string TrustFailureText(TrustFailure failure, const std::string& name) {
  switch (failure) {
    case TrustFailure::kPeerUnreachable:
      return Printf(core::Tr(text::kPeerDidNotAnswer), name.c_str());
    case TrustFailure::kRefused:
      return Printf(core::Tr(text::kPeerRefused), name.c_str());
    case TrustFailure::kServiceSilent:
      return core::Tr(text::kServiceSilent);
  }
  return core::Tr(text::kServiceSilent);
}

LocalTrustClient::LocalTrustClient(const DesktopContext& context) : context_(context) {}

void LocalTrustClient::OnFailure(QObject* receiver, FailureReport report) {
  receiver_ = receiver;
  report_ = std::move(report);
}

LocalTrustClient::~LocalTrustClient() { pool_.waitForDone(); }

void LocalTrustClient::Offer(const std::string& deviceUuid, int timeoutSeconds) {
  auto request = std::make_shared<qo::MsgLinuxTrustPublishRequest>();
  request->set_device_uuid(deviceUuid);
  request->set_timeout(timeoutSeconds);
  Send(qo::MC_LINUX_TRUST_PUBLISH_REQUEST, std::move(request), "offer trust to", deviceUuid);
}

void LocalTrustClient::Accept(const std::string& deviceUuid) {
  auto request = std::make_shared<qo::MsgLinuxTrustRequest>();
  request->set_device_uuid(deviceUuid);
  Send(qo::MC_LINUX_TRUST_REQUEST, std::move(request), "accept the trust of", deviceUuid);
}

void LocalTrustClient::Refuse(const std::string& deviceUuid) {
  auto request = std::make_shared<qo::MsgLinuxTrustCancelRequest>();
  request->set_device_uuid(deviceUuid);
  Send(qo::MC_LINUX_TRUST_CANCEL_REQUEST, std::move(request), "refuse or withdraw the trust of", deviceUuid);
}

void LocalTrustClient::EndTrust(const std::string& deviceUuid) {
  // From this device itself the request names the device to distrust; the
  // service clears the trust here and tells that device.
  auto request = std::make_shared<qo::MsgDistrustRequest>();
  request->set_device_uuid(deviceUuid);
  Send(qo::MC_DISTRUST_REQUEST, std::move(request), "end the trust with", deviceUuid);
}

void LocalTrustClient::Send(int code, std::shared_ptr<const google::protobuf::MessageLite> body, const char* what,
                            const std::string& deviceUuid) {
  const std::shared_ptr<const config::ConfigValues> own = context_.config.Snapshot();
  protocol::ZmqContext& zmq = context_.zmq;
  pool_.start([own, &zmq, code, body = std::move(body), what, deviceUuid, receiver = receiver_, report = report_] {
    OwnKeys keys(own->deviceUuid, own->privateKey, own->publicKey);
    protocol::ChannelOptions options;
    options.sendTimeoutMs = kAnswerWaitMs;
    options.lingerMs = 0;  // an unanswered request must not hold the exit
    protocol::PeerChannel channel(zmq, own->RouteUri(), {own->deviceUuid, own->privateKey}, own->publicKey, keys,
                                  options);
    const protocol::PeerReply reply = channel.Ask(code, body.get(), kAnswerWaitMs);
    std::optional<int> refusal;
    if (reply.answered() && reply.refused()) refusal = reply.peerError.value_or(qo::ZE_GENERAL);
    qo::MsgLinuxTrustResponse result;
    const bool accepted = reply.answered() && !reply.refused() && result.ParseFromString(reply.body) &&
                          result.trust_result() == qo::TRUST_ALLOW;
    const std::optional<TrustFailure> failure = ClassifyTrustAnswer(code, reply.answered(), refusal, accepted);
    if (!failure) return;
    if (!reply.answered()) {
      LOG(WARNING) << "The service did not answer a request to " << what << " device " << deviceUuid;
    } else if (refusal) {
      LOG(WARNING) << "The service refused to " << what << " device " << deviceUuid << " (error " << *refusal
                   << ")";
    } else {
      LOG(WARNING) << "Device " << deviceUuid << " did not take our acceptance of its trust";
    }
    if (report) {
      // Queued on the application, which outlives the receiver; the guard
      // is read on the Qt thread.
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [receiver, report, deviceUuid, kind = *failure] {
            if (receiver) report(deviceUuid, kind);
          },
          Qt::QueuedConnection);
    }
  });
}

}  // namespace morvex::desktop
