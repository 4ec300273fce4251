#include "peer/PeerRequest.h"

#include <glog/logging.h>

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
  answer.sent = out.Send(code, body, false);
  if (!answer.sent || waitMs <= 0) return answer;
  protocol::CInMsg in(keys);
  answer.answered = in.Recv(socket, false, waitMs);
  answer.error = in.ReceiveError();
  answer.arrived = answer.answered || (answer.error != qo::ZE_OPERATE_TIMEOUT && answer.error != qo::ZE_GENERAL);
  if (answer.answered) {
    answer.code = in.Code();
    answer.body = in.Body();
  }
  return answer;
}

}  // namespace morvex::peer
