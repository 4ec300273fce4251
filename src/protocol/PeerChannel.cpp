#include "protocol/PeerChannel.h"

#include <glog/logging.h>

#include "Morvex.pb.h"
#include "protocol/ErrorText.h"

namespace morvex::protocol {

bool PeerReply::refused() const { return answered() && code == qo::MC_ERROR; }

PeerChannel::PeerChannel(ZmqContext& zmq, std::string routeUri, OwnIdentity own, std::string peerPublicKey,
                         IKeyManager& keys, ChannelOptions options)
    : zmq_(zmq),
      routeUri_(std::move(routeUri)),
      own_(std::move(own)),
      peerPublicKey_(std::move(peerPublicKey)),
      keys_(keys),
      options_(options) {}

bool PeerChannel::EnsureSocket() {
  if (socket_.Valid()) return true;
  ZmqSocket socket(zmq_, ZMQ_REQ);
  socket.SetOption(ZMQ_SNDTIMEO, options_.sendTimeoutMs);
  if (options_.lingerMs) socket.SetOption(ZMQ_LINGER, *options_.lingerMs);
  if (!socket.Connect(routeUri_)) {
    if (options_.logWarnings) LOG(WARNING) << "Cannot connect to " << routeUri_ << ": " << zmq_strerror(socket.Error());
    return false;
  }
  socket_ = std::move(socket);
  return true;
}

PeerReply PeerChannel::Ask(int code, const google::protobuf::MessageLite* body, int waitMs) {
  PeerReply reply;
  if (!HasRoute()) {
    if (options_.logWarnings) LOG(WARNING) << "Device without route address skipped";
    return reply;
  }
  if (!EnsureSocket()) return reply;
  if (!SenderOn(socket_).Send(code, body, false)) {
    socket_.Close();
    return reply;
  }
  if (waitMs <= 0) {
    // Nothing will be read from this socket: it cannot send again.
    socket_.Close();
    reply.status = core::Status::Unavailable("no answer awaited");
    return reply;
  }
  CInMsg in(keys_);
  if (!in.Recv(socket_, false, waitMs)) {
    socket_.Close();
    reply.receiveError = in.ReceiveError();
    const std::string text = ErrorText(reply.receiveError);
    if (reply.receiveError == qo::ZE_OPERATE_TIMEOUT) {
      reply.status = core::Status::Timeout(text);
    } else if (reply.receiveError == qo::ZE_GENERAL) {
      reply.status = core::Status::Unavailable(text);
    } else {
      reply.status = core::Status::Rejected(text);
    }
    return reply;
  }
  reply.status = core::Status::Ok();
  reply.code = in.Code();
  reply.body = in.Body();
  if (reply.code == qo::MC_ERROR) {
    qo::MsgError error;
    if (error.ParseFromString(reply.body)) reply.peerError = error.errcode();
  }
  return reply;
}

ZmqSocket PeerChannel::ConnectDealer(int64_t maxMessageBytes) {
  ZmqSocket dealer(zmq_, ZMQ_DEALER);
  dealer.SetOption(ZMQ_MAXMSGSIZE, &maxMessageBytes, sizeof maxMessageBytes);
  dealer.Connect(routeUri_);
  return dealer;
}

}  // namespace morvex::protocol
