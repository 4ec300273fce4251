#include "peer/PeerRequest.h"

#include <glog/logging.h>

#include "protocol/ErrorText.h"
#include "protocol/ProtectedMsg.h"

namespace morvex::peer {

namespace {
constexpr int kSendTimeoutMs = 5000;
}

PeerAnswer RequestPeer(protocol::ZmqContext& zmq, const std::string& routeUri, const Sender& sender,
                       const std::string& peerPublicKey, protocol::IKeyManager& keys, int code,
                       const google::protobuf::MessageLite* body, int waitMs) {
  PeerAnswer answer;
  if (routeUri.empty()) {
    LOG(WARNING) << "Device without route address skipped";
    return answer;
  }
  protocol::ZmqSocket socket(zmq, ZMQ_REQ);
  socket.SetOption(ZMQ_SNDTIMEO, kSendTimeoutMs);
  if (!socket.Connect(routeUri)) {
    LOG(WARNING) << "Cannot connect to " << routeUri << ": " << zmq_strerror(socket.Error());
    return answer;
  }
  protocol::CMsgSender out(socket, sender.uuid, sender.privateKey, peerPublicKey);
  if (!out.Send(code, body, false)) return answer;
  if (waitMs <= 0) {
    answer.status = core::Status::Unavailable("no answer awaited");
    return answer;
  }
  protocol::CInMsg in(keys);
  if (in.Recv(socket, false, waitMs)) {
    answer.status = core::Status::Ok();
    answer.code = in.Code();
    answer.body = in.Body();
    return answer;
  }
  const int error = in.ReceiveError();
  const std::string text = protocol::ErrorText(error);
  if (error == qo::ZE_OPERATE_TIMEOUT) {
    answer.status = core::Status::Timeout(text);
  } else if (error == qo::ZE_GENERAL) {
    answer.status = core::Status::Unavailable(text);
  } else {
    answer.status = core::Status::Rejected(text);
  }
  return answer;
}

}  // namespace morvex::peer
