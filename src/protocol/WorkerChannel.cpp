#include "protocol/WorkerChannel.h"

#include <glog/logging.h>

#include "protocol/InprocEndpoints.h"

namespace morvex::protocol {

ZmqSocket SubscribeExit(ZmqContext& context) {
  ZmqSocket exit(context, ZMQ_SUB);
  exit.Connect(endpoints::kPubExit);
  exit.Subscribe();
  return exit;
}

bool PushOnce(ZmqContext& context, const std::string& endpoint, int code,
              const google::protobuf::MessageLite* body) {
  ZmqSocket push(context, ZMQ_PUSH);
  // A receiver that closes between our connect and our send leaves the PUSH
  // socket without a pipe, and a blocking send would then wait for ever (a
  // ready notice after a failed start, a notice to a worker shutting down).
  push.SetOption(ZMQ_SNDTIMEO, kPushOnceTimeoutMs);
  if (!push.Connect(endpoint)) return false;
  if (!push.SendMsg(code, body)) {
    LOG(WARNING) << "in-process notice " << code << " to " << endpoint << " not delivered: " << zmq_strerror(push.Error());
    return false;
  }
  return true;
}

Wake WaitForInputOrExit(ZmqSocket& exit, ZmqSocket& own, int timeoutMs) {
  for (;;) {
    zmq_pollitem_t items[] = {{exit.Handle(), 0, ZMQ_POLLIN, 0}, {own.Handle(), 0, ZMQ_POLLIN, 0}};
    const int ready = zmq_poll(items, 2, timeoutMs);
    if (ready < 0) {
      if (zmq_errno() == EINTR) continue;
      LOG(ERROR) << "worker poll failed: " << zmq_strerror(zmq_errno());
      return Wake::kFailed;
    }
    if (ready == 0) return Wake::kTimeout;
    if ((items[0].revents & ZMQ_POLLIN) != 0) return Wake::kExit;
    if ((items[1].revents & ZMQ_POLLIN) != 0) return Wake::kInput;
  }
}

void RunWorkerLoop(ZmqSocket& exit, ZmqSocket& own, int timeoutMs, const WorkerLoopHandlers& handlers) {
  for (;;) {
    switch (WaitForInputOrExit(exit, own, timeoutMs)) {
      case Wake::kExit:
      case Wake::kFailed:
        return;
      case Wake::kTimeout:
        if (handlers.onTimeout) handlers.onTimeout();
        break;
      case Wake::kInput: {
        CQoMsg message;
        if (message.Recv(own, false, 0) && handlers.onMessage) handlers.onMessage(message);
        break;
      }
    }
  }
}

}  // namespace morvex::protocol
