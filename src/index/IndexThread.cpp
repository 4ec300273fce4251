#include "index/IndexThread.h"

#include <glog/logging.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <vector>

#include "core/BroadcastService.h"
#include "index/FileUtils.h"
#include "index/IgnoreRules.h"
#include "index/QoFile.h"
#include "index/Tree.h"
#include "platform/PathCollation.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/WorkerChannel.h"
#include "store/ContentResolver.h"

namespace morvex::index {

namespace {

void Progress(int code, int32_t treeId, size_t count) {
  core::CBroadcastService::Instance().Broadcast(code, core::IndexEvent{treeId, static_cast<int32_t>(count)});
}

}  // namespace

CIndexThread::CIndexThread(IndexContext context, std::chrono::milliseconds retryPeriod)
    : CInprocWorker(context.zmq, "indexer", protocol::endpoints::kIndexer, -1), context_(std::move(context)) {
  retryTimer_ = timers_.Start(retryPeriod, retryPeriod, [this] {
    protocol::PushOnce(context_.zmq, protocol::endpoints::kIndexer, qo::MC_WIN_TIMER);
    LOG(INFO) << "send MC_WIN_TIMER";
  });
}

CIndexThread::~CIndexThread() {
  retryTimer_.reset();
  Join();
}

void CIndexThread::OnMessage(protocol::CQoMsg& message) {
  if (message.Code() == qo::MC_WIN_READ_DIR_CHANGE) {
    qo::MsgWinReadDirChange change;
    if (!message.ParseBody(change)) {
      LOG(ERROR) << "Malformed MsgWinReadDirChange dropped";
      return;
    }
    ProcessBatch(change);
    LOG(INFO) << "message is : MC_WIN_READ_DIR_CHANGE";
  } else if (message.Code() == qo::MC_WIN_TIMER) {
    Retry();
    LOG(INFO) << "message is : MC_WIN_TIMER";
  }
}

namespace {

// True when `path` lies strictly below one of `folders`.
bool InsideAny(const std::string& path, const std::set<std::string>& folders) {
  for (size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0; slash = path.rfind('/', slash - 1)) {
    if (folders.count(path.substr(0, slash)) != 0) return true;
  }
  return false;
}

}  // namespace

void CIndexThread::ProcessBatch(const qo::MsgWinReadDirChange& change) {
  const LocalTree tree = LocalTree::ById(change.tree_id());
  if (!tree.Valid()) {
    LOG(ERROR) << "Unexisted tree: " << change.tree_id();
    return;
  }
  const IgnoreRules rules;
  std::vector<std::string> paths;
  // A folder new to the index is walked whole: entries made in it before
  // its watch existed were never reported, whatever else inside it was.
  // Reported entries inside it come with the walk. An ignored folder is
  // walked too, unrecorded, so that its entries get the verdicts the full
  // rescan gives them.
  std::set<std::string> newFolders;
  std::vector<std::string> ignoredGone;  // what was kept below them goes too
  for (const std::string& path : change.paths()) {
    if (!rules.Ignored(path)) {
      paths.push_back(path);
      continue;
    }
    LOG(INFO) << "[Ignore    ]" << path;
    if (!PathExists(path)) {
      ignoredGone.push_back(path);
    } else if (GetFileInfo(path).kind == FileKind::kDirectory) {
      newFolders.insert(path);
    }
  }
  // Descending: entries inside a directory come before the directory.
  std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) { return platform::CompareExact(a, b) > 0; });
  Progress(core::BM_INDEX_BEGIN, tree.Id(), paths.size());

  for (auto it = paths.rbegin(); it != paths.rend(); ++it) {  // parents first
    if (InsideAny(*it, newFolders) || !PathExists(*it) || GetFileInfo(*it).kind != FileKind::kDirectory) continue;
    CQoFile record;
    if (!record.LoadByPath(tree.Id(), *it) || record.Status() == qo::REMOVED || record.Type() != qo::DIR) {
      newFolders.insert(*it);
    }
  }
  // A folder inside another one walked comes with that walk.
  for (auto it = newFolders.begin(); it != newFolders.end();) {
    it = InsideAny(*it, newFolders) ? newFolders.erase(it) : std::next(it);
  }

  store::COperationList list;
  std::vector<std::string> walks(newFolders.begin(), newFolders.end());
  std::string previous;
  for (const std::string& path : paths) {
    if (IsTmpFile(path) || InsideAny(path, newFolders)) {
      Progress(core::BM_INDEX_PROGRESS, tree.Id(), 1);
      continue;
    }
    const bool exists = PathExists(path);
    // A known directory whose content was reported too needs no walk.
    if (exists && newFolders.count(path) == 0 && GetFileInfo(path).kind == FileKind::kDirectory &&
        !PathWithin(previous, path)) {
      walks.push_back(path);
    }
    if (exists) {
      if (!tree.IndexPath(path, list)) {
        LOG(WARNING) << "Failed to index '" << path << "', will retry in 60s";
        retry_[tree.Id()].insert(path);
      }
    } else {
      tree.RemovePath(path, list);
    }
    previous = path;
    Progress(core::BM_INDEX_PROGRESS, tree.Id(), 1);
  }
  for (const std::string& path : ignoredGone) tree.RemovePath(path, list);
  for (const std::string& dir : walks) tree.WalkTree(list, dir, rules);
  if (list.Size() > 0 && store::CContentResolver::Instance().ApplyBatch(store::kAuthority, list) > 0) {
    PublishFileChange(context_.zmq, context_.ownUuid(), tree.SyncUuid(), tree.TreeUuid());
  }
}

void CIndexThread::Retry() {
  std::map<int32_t, std::set<std::string>> pending;
  pending.swap(retry_);
  for (const auto& [treeId, paths] : pending) {
    const LocalTree tree = LocalTree::ById(treeId);
    if (!tree.Valid()) {
      LOG(ERROR) << "Unexisted tree: " << treeId;
      continue;
    }
    Progress(core::BM_INDEX_BEGIN, treeId, paths.size());
    store::COperationList list;
    for (const std::string& path : paths) {
      if (PathExists(path)) {
        if (!tree.IndexPath(path, list)) {
          LOG(WARNING) << "Failed to index '" << path << "', will retry in 60s";
          retry_[treeId].insert(path);
        }
      } else {
        tree.RemovePath(path, list);
      }
      Progress(core::BM_INDEX_PROGRESS, treeId, 1);
    }
    if (list.Size() > 0 && store::CContentResolver::Instance().ApplyBatch(store::kAuthority, list) > 0) {
      PublishFileChange(context_.zmq, context_.ownUuid(), tree.SyncUuid(), tree.TreeUuid());
    }
  }
}

}  // namespace morvex::index
