// What 'wait' makes of the service's status, and how 'status' shows an
// incomplete pass.
#include <gtest/gtest.h>

#include <sstream>

#include "ctl/CtlClient.h"
#include "ctl/ServiceStatus.h"

namespace morvex::ctl {
namespace {

RelationState Link(bool ok, LastPassProblem problem, int64_t pendingFiles = 0) {
  RelationState r;
  r.localTreeUuid = "tree";
  r.localRoot = "/home/u/Sync";
  r.peerName = "host2";
  r.lastPassEnd = 1000;
  r.lastPassOk = ok;
  r.problem = problem;
  r.pendingFiles = pendingFiles;
  if (problem == LastPassProblem::kItemsFailed) {
    r.failedItems = {{"/home/u/Sync/locked.txt", "Operation not permitted"}};
    r.failedCount = 3;
  }
  return r;
}

TEST(WaitVerdict, EachOutcomeHasItsExitStatus) {
  const struct {
    const char* name;
    RelationState link;
    std::optional<int> verdict;  // nullopt: still busy
  } cases[] = {
      {"complete", Link(true, LastPassProblem::kNone), kExitOk},
      {"peer unreachable", Link(false, LastPassProblem::kPeerUnreachable), kExitPeerUnreachable},
      {"refused", Link(false, LastPassProblem::kRefused), kExitServiceError},
      {"items failed", Link(false, LastPassProblem::kItemsFailed), kExitItemsFailed},
      {"pending", Link(true, LastPassProblem::kNone, 2), std::nullopt},
  };
  for (const auto& c : cases) {
    ServiceState state;
    state.relations.push_back(c.link);
    EXPECT_EQ(WaitVerdict(state, {}), c.verdict) << c.name;
    EXPECT_EQ(WaitVerdict(state, {"other tree"}), kExitOk) << c.name << ": another folder's link does not count";
  }
}

TEST(StatusText, AnIncompletePassShowsItsReasonAndItems) {
  ServiceState state;
  state.relations.push_back(Link(false, LastPassProblem::kItemsFailed));
  std::ostringstream text;
  PrintStatusText(state, text);
  EXPECT_NE(text.str().find("FOLDER\tPEER"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("/home/u/Sync\thost2\t"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("3 items could not be applied"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("/home/u/Sync/locked.txt: Operation not permitted"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("and 2 more"), std::string::npos) << text.str();

  RelationState busy = Link(true, LastPassProblem::kNone, 2);
  busy.running = true;
  busy.pendingBytes = 400;
  busy.workBytes = 1000;
  busy.now = 10000;
  busy.workStart = 8000;  // 600 bytes in 2 s
  state.relations.push_back(busy);
  state.trees.push_back({"tree-1", "/home/u/Photos", 42});  // a folder being indexed is named by its path
  text.str("");
  PrintStatusText(state, text);
  EXPECT_NE(text.str().find("indexing 42 items in /home/u/Photos\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("\trunning\tsyncing 2 files, 300.0B/s, 1s left, 400 bytes, 60% done\t"), std::string::npos)
      << text.str();

  std::ostringstream json;
  PrintStatusJson(state, json);
  EXPECT_NE(json.str().find("\"last_pass_ok\": false"), std::string::npos) << json.str();
  EXPECT_NE(json.str().find("\"peer_name\": \"host2\""), std::string::npos) << json.str();
  EXPECT_NE(json.str().find("\"reason\": \"items-failed\""), std::string::npos) << json.str();
  EXPECT_NE(json.str().find("\"failed_items\": [{\"path\": \"/home/u/Sync/locked.txt\""), std::string::npos)
      << json.str();
}

}  // namespace
}  // namespace morvex::ctl
