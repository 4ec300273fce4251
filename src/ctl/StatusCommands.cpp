#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/StringPrintf.h"
#include "core/Text.h"
#include "ctl/CommandContext.h"
#include "ctl/ServiceStatus.h"
#include "index/Tree.h"

namespace morvex::ctl {

int ShowStatus(Context& context) {
  CtlAnswer failure;
  const std::optional<ServiceState> state =
      ReadServiceState(*context.client, context.invocation.metadir, failure);
  if (!state) return context.Fail(failure);
  if (context.invocation.json) {
    PrintStatusJson(*state, context.out);
  } else {
    PrintStatusText(*state, context.out);
  }
  return kExitOk;
}

// Idle with a link whose last pass was incomplete: each such link and why.
int FailIncomplete(Context& context, const ServiceState& state, const std::vector<std::string>& trees, int status) {
  for (const RelationState& r : state.relations) {
    if (r.lastPassEnd == 0 || r.lastPassOk) continue;
    if (!trees.empty() && r.localTreeUuid != trees.front()) continue;
    std::string why = r.problem == LastPassProblem::kNone ? core::Tr("last pass incomplete") : ProblemText(r);
    // The first item names what to look at; status lists the rest.
    if (r.problem == LastPassProblem::kItemsFailed && !r.failedItems.empty()) {
      why = core::StringPrintf(core::Tr("%s, first %s (%s): 'morvexctl status' lists them"), why.c_str(),
                               r.failedItems.front().path.c_str(), r.failedItems.front().reason.c_str());
    }
    context.Fail(status, r.localRoot + ": " + why);
  }
  return status;
}

// Polls until the service (or one folder's part of it) has been idle for
// two polls in a row; on a terminal, a progress line in the main window's
// words meanwhile.
int Wait(Context& context) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPoll = std::chrono::milliseconds(500);
  std::vector<std::string> trees;
  if (context.invocation.words.size() == 2) {
    std::string error;
    if (!OpenLocalDatabase(context.invocation.metadir, error)) return context.Fail(error);
    const std::string root = AbsolutePath(context.invocation.words[1]);
    const index::LocalTree tree = index::LocalTree::ByRoot(root);
    if (!tree.Valid()) return context.Fail(NotASyncFolder(root));
    trees.push_back(tree.TreeUuid());
  }
  const bool terminal = ::isatty(STDERR_FILENO) != 0;
  const auto deadline = Clock::now() + std::chrono::seconds(context.invocation.timeout);
  int idlePolls = 0;
  int64_t lastBytes = -1;
  auto lastTime = Clock::now();
  double speed = 0;
  while (Clock::now() < deadline) {
    CtlAnswer failure;
    const std::optional<ServiceState> state = ReadServiceState(*context.client, context.invocation.metadir, failure);
    if (!state) return context.Fail(failure);
    const std::optional<int> verdict = WaitVerdict(*state, trees);
    idlePolls = verdict ? idlePolls + 1 : 0;
    if (idlePolls >= 2) {
      if (terminal) context.err << "\r\033[K";
      return *verdict == kExitOk ? kExitOk : FailIncomplete(context, *state, trees, *verdict);
    }
    if (terminal) {
      int64_t files = 0;
      int64_t bytes = 0;
      for (const RelationState& r : state->relations) {
        if (!trees.empty() && r.localTreeUuid != trees.front()) continue;
        files += r.pendingFiles;
        bytes += r.pendingBytes;
      }
      const auto now = Clock::now();
      const double seconds = std::chrono::duration<double>(now - lastTime).count();
      if (lastBytes >= 0 && seconds > 0) speed = std::max(0.0, static_cast<double>(lastBytes - bytes) / seconds);
      lastBytes = bytes;
      lastTime = now;
      context.err << "\r\033[K" << ProgressLine(files, bytes, speed) << std::flush;
    }
    std::this_thread::sleep_for(kPoll);
  }
  if (terminal) context.err << "\n";
  return context.Fail(kExitTimeout, StillBusy(context.invocation.timeout));
}

}  // namespace morvex::ctl
