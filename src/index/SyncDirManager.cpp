#include "index/SyncDirManager.h"

#include <glog/logging.h>

#include <algorithm>
#include <cstring>

#include "Morvex.pb.h"
#include "core/MergeSorted.h"
#include "platform/PathCollation.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"
#include "store/ContentResolver.h"

namespace morvex::index {

using store::CContentResolver;
namespace uris = store::uris;

CSyncDirManager::CSyncDirManager(IndexContext context, std::chrono::milliseconds flushPeriod)
    : context_(std::move(context)), flushPeriod_(flushPeriod) {}

CSyncDirManager::~CSyncDirManager() { Stop(); }

void CSyncDirManager::Start() {
  OnChange(Query());
  CContentResolver::Instance().RegisterObserver(uris::Tree(), true, this);
  observing_ = true;
  timer_ = timers_.Start(flushPeriod_, flushPeriod_, [this] { Flush(); });
}

void CSyncDirManager::Stop() {
  timer_.reset();  // waits for a running flush
  if (observing_) CContentResolver::Instance().UnregisterObserver(uris::Tree(), this);
  observing_ = false;
  watcher_.RemoveAllWatches();
  std::lock_guard lock(mutex_);
  watches_.clear();
}

std::unique_ptr<store::CSQLiteCursor> CSyncDirManager::Query() {
  return CContentResolver::Instance().Query(uris::Tree(), {"id", "tree_root"}, store::CSelection(),
                                            "tree_root COLLATE UTF16 ASC ");
}

void CSyncDirManager::OnChange(std::unique_ptr<store::CSQLiteCursor> cursor) {
  struct TreeRow {
    std::string root;
    int32_t id;
  };
  std::vector<TreeRow> trees;  // in the cursor's order: by root
  while (cursor && cursor->MoveToNext()) {
    trees.push_back({std::string(cursor->GetString("tree_root")), cursor->GetInt("id")});
  }

  std::vector<std::pair<std::string, int32_t>> toWatch;
  std::vector<std::string> toUnwatch;
  {
    std::lock_guard lock(mutex_);
    std::sort(watches_.begin(), watches_.end(),
              [](const auto& a, const auto& b) { return platform::CompareExact(a->Root(), b->Root()) < 0; });
    std::vector<std::shared_ptr<CQoDirChangeHandler>> kept;
    core::MergeSorted(
        trees, watches_,
        [](const TreeRow& tree, const auto& watch) { return platform::CompareExact(tree.root, watch->Root()); },
        [&](const TreeRow& tree) { toWatch.emplace_back(tree.root, tree.id); },
        [&](const auto& watch) { toUnwatch.push_back(watch->Root()); },
        [&](const TreeRow&, const auto& watch) { kept.push_back(watch); });
    watches_.swap(kept);
  }
  for (const std::string& root : toUnwatch) {
    watcher_.RemoveWatch(root);
    LOG(INFO) << "Unwatch " << root;
  }
  if (toWatch.empty()) return;
  std::vector<int32_t> ids;
  for (const auto& [root, id] : toWatch) {
    auto handler = std::make_shared<CQoDirChangeHandler>(id, root);
    LOG(INFO) << "Watch " << root;
    if (const int error = watcher_.AddWatch(root, handler); error != 0) {
      LOG(WARNING) << "Cannot watch " << root << ": " << std::strerror(error) << "; only rescans will see its changes";
    }
    {
      std::lock_guard lock(mutex_);
      watches_.push_back(handler);
    }
    ids.push_back(id);
  }
  RequestRescan(ids);
}

void CSyncDirManager::RequestRescan(const std::vector<int32_t>& treeIds) {
  qo::MsgWinRefresh refresh;
  for (const int32_t id : treeIds) refresh.add_local_tree_ids(id);
  protocol::PushOnce(context_.zmq, protocol::endpoints::kRefresher, qo::MC_WIN_REFRESH, &refresh);
}

void CSyncDirManager::Flush() {
  std::vector<std::shared_ptr<CQoDirChangeHandler>> handlers;
  {
    std::lock_guard lock(mutex_);
    handlers = watches_;
  }
  protocol::ZmqSocket indexer(context_.zmq, ZMQ_PUSH);
  indexer.Connect(protocol::endpoints::kIndexer);
  std::vector<int32_t> lost;
  for (const auto& handler : handlers) {
    handler->FlushPending(indexer);
    if (handler->TakeChangesLost()) lost.push_back(handler->TreeId());
  }
  if (!lost.empty()) RequestRescan(lost);
}

}  // namespace morvex::index
