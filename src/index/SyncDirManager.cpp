#include "index/SyncDirManager.h"

#include <glog/logging.h>

#include <algorithm>
#include <cstring>

#include "Morvex.pb.h"
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
  std::vector<std::pair<std::string, int32_t>> toWatch;
  std::vector<std::string> toUnwatch;
  {
    std::lock_guard lock(mutex_);
    std::sort(watches_.begin(), watches_.end(),
              [](const auto& a, const auto& b) { return platform::CompareExact(a->Root(), b->Root()) < 0; });
    std::vector<std::shared_ptr<CQoDirChangeHandler>> kept;
    size_t next = 0;
    bool more = cursor && cursor->MoveToNext();
    while (more || next < watches_.size()) {
      const int order = !more ? 1 : next == watches_.size() ? -1 : platform::CompareExact(cursor->GetString(1), watches_[next]->Root());
      if (order < 0) {
        toWatch.emplace_back(std::string(cursor->GetString(1)), cursor->GetInt(0));
        more = cursor->MoveToNext();
      } else if (order == 0) {
        kept.push_back(watches_[next++]);
        more = cursor->MoveToNext();
      } else {
        toUnwatch.push_back(watches_[next++]->Root());
      }
    }
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
