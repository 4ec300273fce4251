#include "platform/SignalWatcher.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/ThreadName.h"

namespace morvex::platform {
namespace {

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void SignalWatcher::BlockTerminationSignals() {
  const sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
  const sigset_t set = TerminationSignals();
  signals_.Reset(::signalfd(-1, &set, SFD_CLOEXEC));
  stop_.Reset(::eventfd(0, EFD_CLOEXEC));
  thread_ = std::thread([this] { Loop(); });
}

SignalWatcher::~SignalWatcher() {
  const uint64_t one = 1;
  if (::write(stop_.Get(), &one, sizeof one) < 0) {
    // Nothing else can wake the thread; it still ends at process exit.
  }
  thread_.join();
}

void SignalWatcher::Loop() {
  SetCurrentThreadName("signals");
  for (;;) {
    pollfd fds[] = {{signals_.Get(), POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if ((fds[1].revents & POLLIN) != 0) return;
    if ((fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      if (::read(signals_.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        onSignal_(static_cast<int>(info.ssi_signo));
      }
    }
  }
}

}  // namespace morvex::platform
