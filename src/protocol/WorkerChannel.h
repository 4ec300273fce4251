#pragma once

#include <functional>
#include <string>

#include "protocol/QoMsg.h"
#include "protocol/ZmqSocket.h"

namespace morvex::protocol {

// The conventions every worker thread follows: it listens on the exit
// notice, reports ready at start, and ends its loop on any exit message.

// A SUB socket on the exit publisher, subscribed to everything.
ZmqSocket SubscribeExit(ZmqContext& context);

// One message through a short-lived PUSH socket (opened, sent, closed), the
// way senders that are not long-lived workers talk to a worker. The send
// gives up after kPushOnceTimeoutMs when the receiver has gone.
inline constexpr int kPushOnceTimeoutMs = 1000;
bool PushOnce(ZmqContext& context, const std::string& endpoint, int code,
              const google::protobuf::MessageLite* body = nullptr);

// What ended a worker's wait on its exit subscriber and its own socket.
enum class Wake { kExit, kInput, kTimeout, kFailed };
// Waits up to timeoutMs (-1: no limit) for either socket; a signal that
// interrupts the wait restarts it. The exit notice wins over input that
// arrived with it. kFailed (logged here) means the context is going away.
Wake WaitForInputOrExit(ZmqSocket& exit, ZmqSocket& own, int timeoutMs);

// The loop of a worker: waits on the exit subscriber and its own endpoint,
// `timeoutMs` at a time (-1: no limit). A message on the endpoint goes to
// onMessage; a poll that times out calls onTimeout. Returns when the exit
// notice arrives or when `keepRunning` turns false.
struct WorkerLoopHandlers {
  std::function<void(CQoMsg&)> onMessage;
  std::function<void()> onTimeout;
};
void RunWorkerLoop(ZmqSocket& exit, ZmqSocket& own, int timeoutMs, const WorkerLoopHandlers& handlers);

}  // namespace morvex::protocol
