#include "peer/RespWorker.h"

#include <glog/logging.h>

#include "peer/RequestHandlers.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"

namespace morvex::peer {

CRespWorker::CRespWorker(PeerContext& peer, std::string name) : CWorkThread(std::move(name)), peer_(peer) {}

uint32_t CRespWorker::Run() {
  protocol::ZmqSocket socket(peer_.zmq, ZMQ_REQ);
  socket.SetOption(ZMQ_IDENTITY, Name().data(), Name().size());
  socket.Connect(protocol::endpoints::kRouteResp);
  protocol::ZmqSocket exit = protocol::SubscribeExit(peer_.zmq);

  // The REQ socket adds its own delimiter: the router reads identity,
  // empty, "dummy", empty, head.
  socket.SendFrame("dummy", 5, true);
  socket.SendFrame(nullptr, 0, true);
  socket.SendMsg(qo::MC_WIN_WORKER_READY);

  while (protocol::WaitForInputOrExit(exit, socket, -1) == protocol::Wake::kInput) {
    protocol::ZmqFrame identity;
    protocol::ZmqFrame delimiter;
    if (!socket.WaitForInput(kReceiveTimeoutMs) || !socket.RecvFrame(identity) ||
        (identity.More() && !socket.RecvFrame(delimiter))) {
      LOG(WARNING) << "Ooops, continue.";
      continue;
    }
    const auto answerTo = [&] {
      socket.SendFrame(identity.Data(), identity.Size(), true);
      socket.SendFrame(nullptr, 0, true);
    };
    protocol::CInMsg message(peer_.keys);
    if (!message.Recv(socket, false, kReceiveTimeoutMs)) {
      // Anyone who reaches the route port can repeat a refused request.
      if (const auto more = peer_.repeatedLog->Admit("receive " + std::to_string(message.ReceiveError()))) {
        LOG(WARNING) << "Ooops, message receive error." << *more;
      }
      answerTo();
      socket.SendError(message.ReceiveError());
      continue;
    }
    answerTo();
    // Datagrams are logged by their handler, at most once a minute per address.
    if (message.Code() != qo::MC_DISCOVER) {
      LOG(INFO) << "[Message   ] " << "RespWorker Receive " << qo::MsgCode_Name(static_cast<qo::MsgCode>(message.Code()));
    }
    if (message.Code() == qo::MC_WIN_WORKER_END) break;

    const auto config = peer_.config.Snapshot();
    const bool handshake = protocol::CInMsg::HandshakeCode(message.Code());
    protocol::CMsgSender answer(socket, config->deviceUuid, config->privateKey,
                                peer_.keys.GetPublicKey(message.Head().uuid(), !handshake));
    Request request{peer_, message, answer, socket, config};
    const Handler handler = FindHandler(message.Code());
    int result = qo::ZE_BAD_MSGCODE;
    if (handler == nullptr) {
      LOG(ERROR) << "Unsupported request" << message.Code();
    } else {
      result = handler(request);
    }
    if (result != 0) socket.SendError(result);
  }
  return 0;
}

}  // namespace morvex::peer
